#include "drawing/sheet_writers.h"

#include <QPageLayout>
#include <QPdfWriter>

namespace krepiks::drawing {

std::string WritePdf(const Sheet& sheet, QIODevice& file, const std::string& title) {
    QPdfWriter writer(&file);
    const bool a3 = sheet.format == "A3";
    writer.setPageLayout(QPageLayout(QPageSize(a3 ? QPageSize::A3 : QPageSize::A4),
                                     a3 ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    writer.setResolution(1200);
    writer.setTitle(QString::fromUtf8(title));
    writer.setCreator(QStringLiteral("Krepiks"));
    QPainter painter;
    if (!painter.begin(&writer))
        return "не удаётся начать запись PDF";
    PaintSheet(painter, sheet, writer.resolution() / 25.4);
    if (!painter.end())
        return "не удаётся закончить запись PDF";
    return {};
}

} // namespace krepiks::drawing
