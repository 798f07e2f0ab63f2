#pragma once
// Icon resources of a program module, looked up by name as LoadIconW does.
#include <QIcon>
#include <cstddef>
#include <string_view>

namespace krepiks {

// One named icon of a module: the bytes of an image file in a format Qt reads natively
// (XPM, PNG, BMP).
struct ResourceEntry {
    std::u16string_view name;
    const unsigned char* data;
    std::size_t size;
};

// A module's icon table, standing in for its resource section.
struct ModuleResources {
    const ResourceEntry* icons;
    std::size_t iconCount;
};

using HINSTANCE = const ModuleResources*;

// The running program's own module; defined together with its embedded resources.
HINSTANCE HInstance();

// The icon called name in module. Names compare without regard to ASCII case, as resource
// names do. A null icon when the module is null, has no icon of that name, or its bytes do
// not decode.
QIcon LoadIconW(HINSTANCE module, const char16_t* name);

} // namespace krepiks
