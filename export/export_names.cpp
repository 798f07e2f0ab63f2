#include "export/export_names.h"

#include <QList>
#include <map>

namespace krepiks::exporting {

namespace {

// Bytes of a base name: room left in a file name (255 bytes) for the extension and the
// temporary name's prefix.
constexpr qsizetype MaxBaseBytes = 180;

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c < 0xa0);
}

bool needsSafeForm(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.startsWith(QLatin1Char('.')) || name.toUtf8().size() > MaxBaseBytes)
        return true;
    for (const char32_t c : name.toUcs4())
        if (c == U'/' || isControl(c))
            return true;
    return false;
}

QString safeForm(const QString& name, qlonglong id) {
    QString safe;
    qsizetype bytes = 0;
    for (char32_t c : name.toUcs4()) {
        if (c == U'/' || isControl(c) || (safe.isEmpty() && c == U'.'))
            c = U'_';
        const QString character = QString::fromUcs4(&c, 1);
        bytes += character.toUtf8().size();
        if (bytes > MaxBaseBytes - 24)
            break;
        safe += character;
    }
    if (safe.isEmpty())
        safe = QStringLiteral("исполнение");
    return safe + QLatin1Char('~') + QString::number(id);
}

} // namespace

std::vector<QString> FileBases(const std::vector<NamedVariant>& variants) {
    std::vector<QString> bases(variants.size());
    std::vector<bool> safe(variants.size(), false);
    for (std::size_t i = 0; i < variants.size(); ++i)
        safe[i] = needsSafeForm(variants[i].isp);
    // Until no two names are one when case is ignored: a name that meets another gives way,
    // unless it is the plain name of the variant with the lowest id among them.
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t i = 0; i < variants.size(); ++i)
            bases[i] = safe[i] ? safeForm(variants[i].isp, variants[i].id) : variants[i].isp;
        std::map<QString, std::vector<std::size_t>> byName;
        for (std::size_t i = 0; i < variants.size(); ++i)
            byName[bases[i].toCaseFolded()].push_back(i);
        for (const auto& [name, holders] : byName) {
            if (holders.size() < 2)
                continue;
            // A safe form cannot change, so the plain names it meets all give way.
            bool safeAmong = false;
            std::size_t keeper = holders.front();
            for (const std::size_t i : holders) {
                safeAmong = safeAmong || safe[i];
                if (!safe[i] && (safe[keeper] || variants[i].id < variants[keeper].id))
                    keeper = i;
            }
            for (const std::size_t i : holders)
                if (!safe[i] && (safeAmong || i != keeper)) {
                    safe[i] = true;
                    changed = true;
                }
        }
    }
    return bases;
}

} // namespace krepiks::exporting
