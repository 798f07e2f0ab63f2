#pragma once
// The dimensioned bolt drawing (700 x 352) shown by the splash, design and About windows,
// decoded once from the embedded JPEG.
#include <QImage>

namespace krepiks {

const QImage& BoltDrawing();

} // namespace krepiks
