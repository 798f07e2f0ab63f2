#include "catalogue/file_into_place.h"

#include "platform/exception.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace krepiks {

QString NewFileProblem(const QString& file) {
    if (QFileInfo::exists(file))
        return QStringLiteral("%1 уже существует").arg(file);
    // The copy is made beside it first, under a name the user never gave.
    const QFileInfo folder(QFileInfo(file).path());
    if (!folder.exists())
        return QStringLiteral("%1 нельзя создать: папки %2 нет").arg(file, folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("%1 нельзя создать: %2 — не папка").arg(file, folder.filePath());
    return {};
}

// The finished copy takes its name by a link, which never replaces a file that appeared
// meanwhile.
void LinkIntoPlace(const QString& partial, const QString& file) {
    if (link(QFile::encodeName(partial).constData(), QFile::encodeName(file).constData()) != 0)
        throw EDatabaseError(QStringLiteral("%1 не удаётся создать: %2; ничего не записано")
                                 .arg(file, QString::fromLocal8Bit(std::strerror(errno)))
                                 .toStdString());
    QFile::remove(partial);
}

} // namespace krepiks
