// The program module's resource section: which embedded file carries which named resource.
#include "platform/icons.h"
#include "resources/embedded.h"

#include <array>

namespace krepiks {

std::span<const unsigned char> EmbeddedFileData(std::string_view name) {
    for (std::size_t i = 0; i < EmbeddedFileCount; ++i)
        if (name == EmbeddedFiles[i].name)
            return {EmbeddedFiles[i].data, EmbeddedFiles[i].size};
    return {};
}

HINSTANCE HInstance() {
    static const auto entries = [] {
        const auto entry = [](const char16_t* name, std::string_view file) {
            const auto bytes = EmbeddedFileData(file);
            return ResourceEntry{name, bytes.data(), bytes.size()};
        };
        return std::array{
            entry(u"ICON1", "icon1.xpm"),
            entry(u"MAINICON", "mainicon.png"),
        };
    }();
    static const ModuleResources module{entries.data(), entries.size()};
    return &module;
}

} // namespace krepiks
