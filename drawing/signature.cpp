#include "drawing/signature.h"

#include <QDate>
#include <pwd.h>
#include <unistd.h>

namespace krepiks::drawing {

QString AccountName() {
    if (const passwd* entry = getpwuid(getuid())) {
        const QString full =
            QString::fromLocal8Bit(entry->pw_gecos).section(QLatin1Char(','), 0, 0);
        if (!full.trimmed().isEmpty())
            return full.trimmed();
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return {};
}

QString Today() {
    return QDate::currentDate().toString(QStringLiteral("dd.MM.yy"));
}

} // namespace krepiks::drawing
