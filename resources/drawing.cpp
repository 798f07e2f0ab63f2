#include "resources/drawing.h"

#include "platform/jpeg_image.h"
#include "resources/embedded.h"

#include <QtGlobal>

namespace krepiks {

std::span<const unsigned char> BoltDrawingJpeg() {
    return EmbeddedFileData("drawing.jpg");
}

const QImage& BoltDrawing() {
    static const QImage image = [] {
        const auto jpeg = BoltDrawingJpeg();
        QString error;
        QImage decoded = DecodeJpeg(jpeg.data(), jpeg.size(), &error);
        if (decoded.isNull()) {
            // Keep the windows' layout: a black picture of the right size.
            qWarning("krepiks: the bolt drawing does not decode: %s", qPrintable(error));
            decoded = QImage(700, 352, QImage::Format_RGB32);
            decoded.fill(Qt::black);
        }
        return decoded;
    }();
    return image;
}

} // namespace krepiks
