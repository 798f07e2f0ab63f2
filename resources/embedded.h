#pragma once
// The resource files compiled into the program (generated from the committed files).
#include <cstddef>
#include <span>
#include <string_view>

namespace krepiks {

struct EmbeddedFile {
    const char* name; // file name within resources/, e.g. "drawing.jpg"
    const unsigned char* data;
    std::size_t size;
};

extern const EmbeddedFile EmbeddedFiles[];
extern const std::size_t EmbeddedFileCount;

// The bytes of one embedded file; empty when there is none by that name.
std::span<const unsigned char> EmbeddedFileData(std::string_view name);

} // namespace krepiks
