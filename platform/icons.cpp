#include "platform/icons.h"

#include <QImage>
#include <QPixmap>

namespace krepiks {

namespace {

char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

} // namespace

QIcon LoadIconW(HINSTANCE module, const char16_t* name) {
    if (!module || !name)
        return {};
    for (std::size_t i = 0; i < module->iconCount; ++i) {
        const ResourceEntry& entry = module->icons[i];
        if (!sameName(entry.name, name))
            continue;
        if (!entry.data || entry.size == 0)
            return {};
        QImage image;
        if (!image.loadFromData(entry.data, static_cast<int>(entry.size)))
            return {};
        return QIcon(QPixmap::fromImage(image));
    }
    return {};
}

} // namespace krepiks
