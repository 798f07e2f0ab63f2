#include "platform/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace krepiks {

namespace {

// Larger pictures are refused before any memory is taken for them.
constexpr JDIMENSION MaxSide = 16384;

// The library's default error handler ends the process; this one jumps back to the
// decoder instead. Warnings (corrupt or missing data the library would paper over with
// grey) count as errors too: a half-decoded picture is not a picture.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf resume;
    char message[JMSG_LENGTH_MAX];
};

void failDecoding(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->resume, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    if (level < 0)
        failDecoding(cinfo);
}

// Holds no object with a destructor between setjmp and the jumps back to it: everything
// that must survive is reached through the pointers passed in.
bool decode(jpeg_decompress_struct* cinfo, ErrorManager* manager, const unsigned char* data,
            std::size_t size, QImage* out) {
    if (setjmp(manager->resume))
        return false;
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);
    // Straight into QImage's 0xffRRGGBB words; the library fills the pad byte with 0xff.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    cinfo->out_color_space = JCS_EXT_BGRX;
#else
    cinfo->out_color_space = JCS_EXT_XRGB;
#endif
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width > MaxSide || cinfo->output_height > MaxSide) {
        std::snprintf(manager->message, sizeof manager->message, "Image too large (%ux%u)",
                      cinfo->output_width, cinfo->output_height);
        return false;
    }
    *out = QImage(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height),
                  QImage::Format_RGB32);
    if (out->isNull()) {
        std::snprintf(manager->message, sizeof manager->message, "Out of memory");
        return false;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = out->scanLine(static_cast<int>(cinfo->output_scanline));
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

} // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size, QString* error) {
    jpeg_decompress_struct cinfo{};
    ErrorManager manager{};
    cinfo.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = failDecoding;
    manager.base.emit_message = onMessage;
    QImage image;
    bool ok = false;
    if (!data || size == 0)
        std::snprintf(manager.message, sizeof manager.message, "Empty input buffer");
    else
        ok = decode(&cinfo, &manager, data, size, &image);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        if (error)
            *error = QString::fromLocal8Bit(manager.message);
        return {};
    }
    if (error)
        error->clear();
    return image;
}

} // namespace krepiks
