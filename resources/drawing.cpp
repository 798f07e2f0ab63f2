#include "resources/drawing.h"

namespace krepiks {

// Placeholder until the embedded drawing is decoded here.
const QImage& BoltDrawing() {
    static const QImage image = [] {
        QImage blank(700, 352, QImage::Format_RGB32);
        blank.fill(Qt::black);
        return blank;
    }();
    return image;
}

} // namespace krepiks
