// Draws the dimensioned bolt drawing and writes it as a baseline JPEG. The output is
// committed; the program embeds that file, so this runs only when the drawing changes.
//
// Usage: make_drawing [output.jpg]
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRect>
#include <cmath>
#include <cstdio>
#include <jpeglib.h>
#include <numbers>
#include <vector>

namespace {

constexpr int Width = 700;
constexpr int Height = 352;

// The design window lays the drawing at (2, 18) inside its group and puts the value boxes
// at these group positions; the labels must end just left of them.
constexpr QPoint PictureOrigin(2, 18);

struct ValueBox {
    const char* label;
    int left, top, width;
};

constexpr ValueBox Boxes[] = {
    {"a", 168, 32, 57},  {"R", 242, 60, 57},  {"d1", 281, 94, 57},  {"d", 416, 94, 57},
    {"D", 32, 219, 57},  {"K", 68, 318, 57},  {"b", 208, 250, 57},  {"L2", 228, 280, 57},
    {"L", 264, 318, 57}, {"C", 335, 251, 46}, {"d2", 452, 211, 57}, {"L3", 477, 280, 57},
    {"e", 618, 48, 57},  {"S", 611, 255, 45},
};
constexpr int BoxHeight = 24;

const QColor Outline(255, 140, 0);
const QColor Dimension(0, 200, 0);
const QColor Caption(0, 255, 255);

QRect boxRect(const ValueBox& box) {
    return QRect(box.left, box.top, box.width, BoxHeight).translated(-PictureOrigin);
}

// Side view geometry (picture pixels). The axis is horizontal; the head is on the left.
constexpr double AxisY = 150;
constexpr double HeadLeft = 100, HeadRight = 160, HeadHalf = 90;
constexpr double Step1 = 340, Step1End = 350; // d1 -> d0, ends at L2
constexpr double Step2 = 466, Step2End = 478; // d0 -> d2
constexpr double TipEnd = 545;                // end of the shank, L
constexpr double D1Half = 45, D0Half = 35, D2Half = 24;
constexpr double Chamfer = 14;
constexpr double Fillet = 8;

// End view: hexagon with corners left and right.
constexpr QPointF HexCentre(632, 148);
constexpr double HexRadius = 50;

void arrowHead(QPainter& p, QPointF tip, QPointF from) {
    const QPointF d = tip - from;
    const double len = std::hypot(d.x(), d.y());
    if (len == 0)
        return;
    const QPointF u = d / len;
    const QPointF n(-u.y(), u.x());
    const QPointF base = tip - u * 9;
    QPolygonF head;
    head << tip << base + n * 3 << base - n * 3;
    p.setBrush(Dimension);
    p.drawPolygon(head);
    p.setBrush(Qt::NoBrush);
}

// A dimension line with arrows at both ends.
void dimension(QPainter& p, QPointF a, QPointF b) {
    p.drawLine(a, b);
    arrowHead(p, a, b);
    arrowHead(p, b, a);
}

// A leader: a line ending in one arrow at the feature.
void leader(QPainter& p, QPointF from, QPointF to) {
    p.drawLine(from, to);
    arrowHead(p, to, from);
}

void drawSideView(QPainter& p) {
    p.setPen(QPen(Outline, 2));
    QPainterPath body;
    // Head, chamfered at its top (left) end.
    body.moveTo(HeadLeft + Chamfer, AxisY - HeadHalf);
    body.lineTo(HeadRight, AxisY - HeadHalf);
    body.lineTo(HeadRight, AxisY + HeadHalf);
    body.lineTo(HeadLeft + Chamfer, AxisY + HeadHalf);
    body.lineTo(HeadLeft, AxisY + HeadHalf - Chamfer);
    body.lineTo(HeadLeft, AxisY - HeadHalf + Chamfer);
    body.closeSubpath();
    p.drawPath(body);
    // Hexagon faces seen from the side.
    p.drawLine(QPointF(HeadLeft + 3, AxisY - HeadHalf / 2),
               QPointF(HeadRight, AxisY - HeadHalf / 2));
    p.drawLine(QPointF(HeadLeft + 3, AxisY + HeadHalf / 2),
               QPointF(HeadRight, AxisY + HeadHalf / 2));
    p.drawLine(QPointF(HeadLeft + Chamfer, AxisY - HeadHalf),
               QPointF(HeadLeft + Chamfer, AxisY + HeadHalf));

    // Shank profile, top and bottom halves mirrored about the axis.
    for (const double side : {-1.0, 1.0}) {
        QPainterPath shank;
        shank.moveTo(HeadRight, AxisY + side * (D1Half + Fillet));
        shank.quadTo(HeadRight, AxisY + side * D1Half, HeadRight + Fillet, AxisY + side * D1Half);
        shank.lineTo(Step1, AxisY + side * D1Half);
        shank.lineTo(Step1End, AxisY + side * D0Half);
        shank.lineTo(Step2, AxisY + side * D0Half);
        shank.lineTo(Step2End, AxisY + side * D2Half);
        shank.lineTo(TipEnd, AxisY + side * D2Half);
        p.drawPath(shank);
    }
    p.drawLine(QPointF(TipEnd, AxisY - D2Half), QPointF(TipEnd, AxisY + D2Half));
    // Edges where the sections meet.
    p.setPen(QPen(Outline, 1));
    p.drawLine(QPointF(Step1, AxisY - D1Half), QPointF(Step1, AxisY + D1Half));
    p.drawLine(QPointF(Step1End, AxisY - D0Half), QPointF(Step1End, AxisY + D0Half));
    p.drawLine(QPointF(Step2, AxisY - D0Half), QPointF(Step2, AxisY + D0Half));
    p.drawLine(QPointF(Step2End, AxisY - D2Half), QPointF(Step2End, AxisY + D2Half));

    // Centre line.
    QPen centre(Outline, 1, Qt::DashDotLine);
    p.setPen(centre);
    p.drawLine(QPointF(HeadLeft - 20, AxisY), QPointF(TipEnd + 20, AxisY));
}

void drawEndView(QPainter& p) {
    QPolygonF hex;
    for (int i = 0; i < 6; ++i) {
        const double angle = i * std::numbers::pi / 3;
        hex << HexCentre + QPointF(std::cos(angle), std::sin(angle)) * HexRadius;
    }
    p.setPen(QPen(Outline, 2));
    p.drawPolygon(hex);
    const double flat = HexRadius * std::sqrt(3.0) / 2;
    p.drawEllipse(HexCentre, flat - 4, flat - 4);
    p.setPen(QPen(Outline, 1, Qt::DashDotLine));
    p.drawLine(HexCentre - QPointF(HexRadius + 12, 0), HexCentre + QPointF(HexRadius + 12, 0));
    p.drawLine(HexCentre - QPointF(0, flat + 12), HexCentre + QPointF(0, flat + 12));
}

void drawDimensions(QPainter& p) {
    p.setPen(QPen(Dimension, 1));

    // D: head diameter, left of the head.
    const double dx = HeadLeft - 7;
    p.drawLine(QPointF(HeadLeft - 3, AxisY - HeadHalf), QPointF(dx - 4, AxisY - HeadHalf));
    p.drawLine(QPointF(HeadLeft - 3, AxisY + HeadHalf), QPointF(dx - 4, AxisY + HeadHalf));
    dimension(p, QPointF(dx, AxisY - HeadHalf), QPointF(dx, AxisY + HeadHalf));

    // d1, d and d2: diameters of the three sections.
    const struct { double x, half; } diameters[] = {{300, D1Half}, {430, D0Half}, {522, D2Half}};
    for (const auto& d : diameters)
        dimension(p, QPointF(d.x, AxisY - d.half), QPointF(d.x, AxisY + d.half));
    p.drawLine(QPointF(300, AxisY - D1Half), QPointF(300, 88));
    p.drawLine(QPointF(430, AxisY - D0Half), QPointF(430, 88));
    p.drawLine(QPointF(522, AxisY + D2Half), QPointF(522, 208));
    p.drawLine(QPointF(510, 208), QPointF(522, 208));

    // Extension lines down to the length dimensions.
    const double lengthsY = 292, chainY = 259;
    for (const double x : {HeadLeft, HeadRight})
        p.drawLine(QPointF(x, AxisY + HeadHalf + 3), QPointF(x, lengthsY + 5));
    p.drawLine(QPointF(Step1End, AxisY + D0Half + 3), QPointF(Step1End, chainY + 5));
    p.drawLine(QPointF(Step2End, AxisY + D2Half + 3), QPointF(Step2End, chainY + 5));
    p.drawLine(QPointF(TipEnd, AxisY + D2Half + 3), QPointF(TipEnd, lengthsY + 5));
    // K, L on one line; L2 and L3 above it.
    dimension(p, QPointF(HeadLeft, lengthsY), QPointF(HeadRight, lengthsY));
    dimension(p, QPointF(HeadRight, lengthsY), QPointF(TipEnd, lengthsY));
    dimension(p, QPointF(HeadRight, chainY), QPointF(Step1End, chainY));
    dimension(p, QPointF(Step2End, chainY), QPointF(TipEnd, chainY));

    // Angles and the fillet radius, by leaders from their labels.
    leader(p, QPointF(160, 34),
           QPointF(HeadLeft + Chamfer / 2 + 1, AxisY - HeadHalf + Chamfer / 2 + 1));
    leader(p, QPointF(238, 50), QPointF(HeadRight + 3, AxisY - D1Half - 3));
    leader(p, QPointF(205, 226), QPointF(Step1 + 5, AxisY + (D1Half + D0Half) / 2));
    leader(p, QPointF(332, 236), QPointF(Step2 + 6, AxisY + (D0Half + D2Half) / 2));

    // e: across corners, above the hexagon.
    const double eY = 66;
    const double left = HexCentre.x() - HexRadius, right = HexCentre.x() + HexRadius;
    p.drawLine(QPointF(left, HexCentre.y() - 3), QPointF(left, eY - 5));
    p.drawLine(QPointF(right, HexCentre.y() - 3), QPointF(right, eY - 5));
    dimension(p, QPointF(left, eY), QPointF(right, eY));

    // S: across flats, left of the hexagon, with its value below.
    const double flat = HexRadius * std::sqrt(3.0) / 2;
    const double sX = 566;
    const double top = HexCentre.y() - flat, bottom = HexCentre.y() + flat;
    p.drawLine(QPointF(HexCentre.x() - HexRadius / 2 - 3, top), QPointF(sX - 5, top));
    p.drawLine(QPointF(HexCentre.x() - HexRadius / 2 - 3, bottom), QPointF(sX - 5, bottom));
    dimension(p, QPointF(sX, top), QPointF(sX, bottom));
    p.drawLine(QPointF(sX, bottom), QPointF(sX, 232));
    p.drawLine(QPointF(sX, 232), QPointF(606, 232));
}

void drawLabels(QPainter& p) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    font.setBold(true);
    p.setFont(font);
    for (const ValueBox& box : Boxes) {
        const QRect r = boxRect(box);
        p.setPen(Caption);
        const QString text = QString::fromLatin1(box.label) + QLatin1Char('=');
        const QRect textRect(r.left() - 60, r.top(), 58, r.height());
        p.drawText(textRect, Qt::AlignRight | Qt::AlignVCenter, text);
        // The short line the value box covers.
        p.setPen(QPen(Caption, 1));
        p.drawLine(QPointF(r.left() + 1, r.bottom() - 3), QPointF(r.right() - 1, r.bottom() - 3));
    }
}

bool writeJpeg(const QImage& source, const char* path) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::perror(path);
        return false;
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    // Thin coloured lines smear under chroma subsampling.
    for (int i = 0; i < cinfo.num_components; ++i) {
        cinfo.comp_info[i].h_samp_factor = 1;
        cinfo.comp_info[i].v_samp_factor = 1;
    }
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const char* path = argc > 1 ? argv[1] : KREPIKS_DRAWING_OUT;

    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setRenderHint(QPainter::TextAntialiasing, true);
        drawSideView(p);
        drawEndView(p);
        drawDimensions(p);
        drawLabels(p);
    }
    if (!writeJpeg(image, path))
        return 1;
    std::printf("%s\n", path);
    return 0;
}
