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

// Into file, open for writing, in the format suffix names; a DXF is written by its name, which file
// then keeps.
std::string writeInto(const Sheet& sheet, QFile& file, const QString& suffix,
                      const QString& title) {
    const std::string name = title.toStdString();
    std::string error;
    if (suffix == QLatin1String("pdf"))
        error = WritePdf(sheet, file, name);
    else if (suffix == QLatin1String("svg"))
        error = WriteSvg(sheet, file, name);
    else {
        file.close();
        error = WriteDxf(sheet, QFile::encodeName(file.fileName()).toStdString());
    }
    if (error.empty() && file.isOpen() && !file.flush())
        error = file.errorString().toStdString();
    return error;
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
    if (const std::string error = writeInto(sheet, partial, suffixOf(file), title); !error.empty())
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

std::string WriteSheetAt(const Sheet& sheet, const QString& path, const QString& title) {
    if (!KnownDrawingFormat(path))
        return "чертёж записывается только в .pdf, .svg или .dxf";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return file.errorString().toStdString();
    std::string error = writeInto(sheet, file, suffixOf(path), title);
    if (file.isOpen())
        file.close();
    if (error.empty() && file.error() != QFileDevice::NoError)
        error = file.errorString().toStdString();
    return error;
}

} // namespace krepiks::drawing
