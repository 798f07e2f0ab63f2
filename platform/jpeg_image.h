#pragma once
// Decoding of a baseline JPEG held in memory, with the IJG library.
#include <QImage>
#include <QString>
#include <cstddef>

namespace krepiks {

// The picture as an RGB32 image. On corrupt, truncated or unsupported data the result is a
// null image and, when error is given, the decoder's message; nothing is printed and the
// process goes on.
QImage DecodeJpeg(const unsigned char* data, std::size_t size, QString* error = nullptr);

} // namespace krepiks
