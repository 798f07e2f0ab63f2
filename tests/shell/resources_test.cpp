// The embedded drawing, its decoder and the icon resources.
#include "platform/icons.h"
#include "platform/jpeg_image.h"
#include "resources/drawing.h"

#include <QImage>
#include <QSet>
#include <gtest/gtest.h>
#include <vector>

using namespace krepiks;

namespace {

std::vector<unsigned char> drawingBytes() {
    const auto jpeg = BoltDrawingJpeg();
    return {jpeg.begin(), jpeg.end()};
}

int countNear(const QImage& image, QColor wanted, int tolerance) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - wanted.red()) <= tolerance &&
                std::abs(c.green() - wanted.green()) <= tolerance &&
                std::abs(c.blue() - wanted.blue()) <= tolerance)
                ++n;
        }
    return n;
}

bool nearBlack(QColor c) {
    return c.red() < 24 && c.green() < 24 && c.blue() < 24;
}

} // namespace

TEST(Drawing, EmbeddedJpegDecodesToTheDimensionedDrawing) {
    const auto bytes = drawingBytes();
    ASSERT_GT(bytes.size(), 1000u);
    // A baseline (SOF0) JPEG: the only kind the program needs to read.
    ASSERT_EQ(bytes[0], 0xFF);
    ASSERT_EQ(bytes[1], 0xD8);
    bool baseline = false;
    for (std::size_t i = 2; i + 1 < bytes.size() && !baseline; ++i)
        baseline = bytes[i] == 0xFF && bytes[i + 1] == 0xC0;
    EXPECT_TRUE(baseline);

    QString error = QStringLiteral("stale");
    const QImage image = DecodeJpeg(bytes.data(), bytes.size(), &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(image.size(), QSize(700, 352));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    for (const QPoint corner : {QPoint(0, 0), QPoint(699, 0), QPoint(0, 351), QPoint(699, 351)})
        EXPECT_TRUE(nearBlack(image.pixelColor(corner))) << corner.x() << "," << corner.y();
    EXPECT_GT(countNear(image, QColor(255, 140, 0), 40), 1000) << "orange outline";
    EXPECT_GT(countNear(image, QColor(0, 255, 255), 50), 300) << "cyan labels";
    EXPECT_GT(countNear(image, QColor(0, 200, 0), 50), 300) << "green dimension lines";
    // Mostly background.
    EXPECT_GT(countNear(image, QColor(0, 0, 0), 24), 700 * 352 * 3 / 4);

    // The windows' picture is this one, decoded once.
    EXPECT_EQ(BoltDrawing(), image);
    EXPECT_EQ(&BoltDrawing(), &BoltDrawing());
}

TEST(Drawing, LabelsSitJustLeftOfTheirValueBoxes) {
    // Design-window boxes (left, top) less the picture's place in its group (2, 18): cyan
    // text must lie within 40 pixels left of each box, on the box's rows.
    const struct {
        int left, top;
    } boxes[] = {{168, 32},  {242, 60},  {281, 94},  {416, 94},  {32, 219},  {68, 318}, {208, 250},
                 {228, 280}, {264, 318}, {335, 251}, {452, 211}, {477, 280}, {618, 48}, {611, 255}};
    const QImage& image = BoltDrawing();
    for (const auto& box : boxes) {
        const QRect label(box.left - 2 - 40, box.top - 18 + 2, 40, 20);
        const QImage part = image.copy(label.intersected(image.rect()));
        EXPECT_GT(countNear(part, QColor(0, 255, 255), 60), 15) << box.left << "," << box.top;
    }
}

TEST(JpegDecoder, TruncatedDataFailsQuietlyWithAMessage) {
    const auto bytes = drawingBytes();
    const std::size_t lengths[] = {1,
                                   2,
                                   20,
                                   200,
                                   623,
                                   bytes.size() / 3,
                                   bytes.size() / 2,
                                   bytes.size() - 100,
                                   bytes.size() - 1};
    for (const std::size_t length : lengths) {
        testing::internal::CaptureStderr();
        QString error;
        const QImage image = DecodeJpeg(bytes.data(), length, &error);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(image.isNull()) << "length " << length;
        EXPECT_FALSE(error.isEmpty()) << "length " << length;
        EXPECT_EQ(printed, "") << "length " << length;
    }
}

TEST(JpegDecoder, CorruptOrForeignDataFails) {
    const QByteArray text("this is not a picture at all, just some text");
    QString error;
    EXPECT_TRUE(DecodeJpeg(reinterpret_cast<const unsigned char*>(text.constData()),
                           static_cast<std::size_t>(text.size()), &error)
                    .isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("Not a JPEG file"))) << error.toStdString();

    error.clear();
    EXPECT_TRUE(DecodeJpeg(nullptr, 0, &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    // A frame header claiming a huge picture is refused before memory is taken for it.
    auto bytes = drawingBytes();
    std::size_t sof = 0;
    for (std::size_t i = 2; i + 8 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    ASSERT_NE(sof, 0u);
    auto huge = bytes;
    huge[sof + 5] = 0x4E, huge[sof + 6] = 0x20; // height 20000
    huge[sof + 7] = 0x4E, huge[sof + 8] = 0x20; // width 20000
    error.clear();
    EXPECT_TRUE(DecodeJpeg(huge.data(), huge.size(), &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << error.toStdString();

    // A zero height is the library's own error, which must not end the process.
    auto empty = bytes;
    empty[sof + 5] = 0, empty[sof + 6] = 0;
    error.clear();
    EXPECT_TRUE(DecodeJpeg(empty.data(), empty.size(), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    // Still decodes afterwards: no state is left behind by a failure.
    EXPECT_EQ(DecodeJpeg(bytes.data(), bytes.size()).size(), QSize(700, 352));
}

TEST(Icons, Icon1Is32By32InSixteenColours) {
    const QIcon icon = LoadIconW(HInstance(), u"ICON1");
    ASSERT_FALSE(icon.isNull());
    ASSERT_EQ(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) != 0)
                colours.insert(p & 0xFFFFFF);
        }
    EXPECT_GE(colours.size(), 3);
    // Only the standard sixteen colours.
    const QSet<QRgb> standard{0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                              0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                              0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    for (const QRgb c : colours)
        EXPECT_TRUE(standard.contains(c)) << std::hex << c;
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_NE(qAlpha(image.pixel(16, 16)), 0);
}

TEST(Icons, NamesAreLookedUpInTheGivenModuleOnly) {
    EXPECT_FALSE(LoadIconW(HInstance(), u"icon1").isNull()) << "resource names ignore case";
    const QIcon main = LoadIconW(HInstance(), u"MAINICON");
    ASSERT_FALSE(main.isNull());
    EXPECT_FALSE(main.availableSizes().isEmpty());
    for (const char16_t* unknown : {u"ICON2", u"ICON", u""})
        EXPECT_TRUE(LoadIconW(HInstance(), unknown).isNull());
    EXPECT_TRUE(LoadIconW(nullptr, u"ICON1").isNull());

    static const unsigned char junk[] = {1, 2, 3, 4, 5};
    const ResourceEntry entries[] = {{u"BROKEN", junk, sizeof junk}, {u"EMPTY", nullptr, 0}};
    const ModuleResources other{entries, 2};
    EXPECT_TRUE(LoadIconW(&other, u"BROKEN").isNull());
    EXPECT_TRUE(LoadIconW(&other, u"EMPTY").isNull());
    EXPECT_TRUE(LoadIconW(&other, u"ICON1").isNull());
}
