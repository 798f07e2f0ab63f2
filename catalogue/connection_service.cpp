#include "catalogue/connection_service.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace krepiks {

namespace {

// Debian's libpq is built with this system configuration folder.
constexpr char SystemConfigFolder[] = "/etc/postgresql-common";

bool definesService(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QByteArray wanted = QByteArray("[") + CatalogueService + "]";
    while (!file.atEnd()) {
        // libpq takes the section name between the brackets as written, blanks trimmed.
        if (file.readLine().trimmed() == wanted)
            return true;
    }
    return false;
}

} // namespace

QString CatalogueServiceFile() {
    QStringList candidates;
    const QString userFile = qEnvironmentVariable("PGSERVICEFILE");
    candidates << (userFile.isEmpty() ? QDir::homePath() + QStringLiteral("/.pg_service.conf")
                                      : userFile);
    const QString sysconf = qEnvironmentVariable("PGSYSCONFDIR");
    candidates << (sysconf.isEmpty() ? QString::fromLatin1(SystemConfigFolder) : sysconf) +
                      QStringLiteral("/pg_service.conf");
    for (const QString& path : candidates)
        if (definesService(path))
            return path;
    return {};
}

} // namespace krepiks
