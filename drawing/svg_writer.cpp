#include "drawing/sheet_writers.h"

#include <QSvgGenerator>

namespace krepiks::drawing {

std::string WriteSvg(const Sheet& sheet, QIODevice& file, const std::string& title) {
    // Ten units to the millimetre: the header then gives the sheet's size in millimetres.
    constexpr int UnitsPerMm = 10;
    QSvgGenerator generator;
    generator.setOutputDevice(&file);
    generator.setResolution(qRound(25.4 * UnitsPerMm));
    generator.setSize(QSize(qRound(sheet.width * UnitsPerMm), qRound(sheet.height * UnitsPerMm)));
    generator.setViewBox(QRectF(0, 0, sheet.width * UnitsPerMm, sheet.height * UnitsPerMm));
    generator.setTitle(QString::fromUtf8(title));
    generator.setDescription(QStringLiteral("Krepiks"));
    QPainter painter;
    if (!painter.begin(&generator))
        return "не удаётся начать запись SVG";
    PaintSheet(painter, sheet, UnitsPerMm);
    if (!painter.end())
        return "не удаётся закончить запись SVG";
    return {};
}

} // namespace krepiks::drawing
