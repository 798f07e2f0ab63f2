#pragma once
// The dimensioned bolt drawing (700 x 352) shown by the splash, design and About windows,
// decoded once from the embedded JPEG.
#include <QImage>
#include <span>

namespace krepiks {

const QImage& BoltDrawing();

// The embedded JPEG itself.
std::span<const unsigned char> BoltDrawingJpeg();

} // namespace krepiks
