#include "drawing/sheet_file.h"

#include "drawing/sheet_writers.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace krepiks::drawing {

namespace {

QString suffixOf(const QString& file) {
    return QFileInfo(file).suffix().toLower();
}

} // namespace

bool KnownDrawingFormat(const QString& file) {
    const QString suffix = suffixOf(file);
    return suffix == QLatin1String("pdf") || suffix == QLatin1String("svg") ||
           suffix == QLatin1String("dxf");
}

QString WriteSheetFile(const Sheet& sheet, const QString& file, const QString& title) {
    if (!KnownDrawingFormat(file))
        return QStringLiteral("%1: чертёж записывается только в .pdf, .svg или .dxf; "
                              "ничего не записано")
            .arg(file);
    if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
        return QStringLiteral("%1 уже существует; ничего не записано").arg(file);
    QTemporaryFile partial(file + QStringLiteral(".XXXXXX.partial"));
    if (!partial.open())
        return QStringLiteral("%1 не удаётся создать: %2; ничего не записано")
            .arg(file, partial.errorString());
    const std::string name = title.toStdString();
    const QString suffix = suffixOf(file);
    std::string error;
    if (suffix == QLatin1String("pdf"))
        error = WritePdf(sheet, partial, name);
    else if (suffix == QLatin1String("svg"))
        error = WriteSvg(sheet, partial, name);
    else {
        partial.close();
        error = WriteDxf(sheet, QFile::encodeName(partial.fileName()).toStdString());
    }
    if (error.empty() && partial.isOpen() && !partial.flush())
        error = partial.errorString().toStdString();
    if (!error.empty())
        return QStringLiteral("%1 не удаётся записать: %2; ничего не записано")
            .arg(file, QString::fromStdString(error));
    partial.close();
    // The link never replaces a file that appeared meanwhile.
    if (link(QFile::encodeName(partial.fileName()).constData(),
             QFile::encodeName(file).constData()) != 0)
        return QStringLiteral("%1 не удаётся создать: %2; ничего не записано")
            .arg(file, QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

} // namespace krepiks::drawing
