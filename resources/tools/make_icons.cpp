// Draws the program's icons and writes them next to the other resources:
//   icon1.xpm    "ICON1", the application icon: 32 x 32 in the 16 standard colours;
//   mainicon.png "MAINICON", the executable's icon for the desktop entry: 48 x 48;
//   icons/krepiks-N.png, the same at the desktop menu's other sizes.
// The outputs are committed; run this only when the pictures change.
//
// Usage: make_icons [output folder]
#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

// The sixteen colours a 4-bit icon can use, in the usual palette order.
constexpr QRgb Palette[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};
enum Colour { Black = 0, Teal = 6, Silver = 7, Grey = 8, White = 15 };
constexpr int Transparent = -1;

constexpr int IconSize = 32;
const double Sqrt3 = std::sqrt(3.0);

// A hexagon with corners left and right, as the head is seen from its end.
bool insideHexagon(double x, double y, double radius) {
    const double ax = std::abs(x), ay = std::abs(y);
    const double flat = radius * Sqrt3 / 2;
    return ay <= flat && ax * Sqrt3 / 2 + ay / 2 <= flat;
}

// The colour index of one pixel of the bolt head: a chamfered hexagon lit from the top
// left, with the bearing circle and the shank end in the middle.
int headPixel(int px, int py) {
    const double c = IconSize / 2.0;
    const double radius = 15.2;
    const auto inside = [&](int qx, int qy) {
        return insideHexagon(qx + 0.5 - c, qy + 0.5 - c, radius);
    };
    if (!inside(px, py))
        return Transparent;
    if (!inside(px - 1, py) || !inside(px + 1, py) || !inside(px, py - 1) || !inside(px, py + 1))
        return Black;
    const double x = px + 0.5 - c, y = py + 0.5 - c;
    const double r = std::hypot(x, y);
    if (r <= 5.2)
        return r > 4.2 ? Black : Teal;
    if (r >= 10.0 && r <= 11.0)
        return Grey;
    const double light = (-x - y) / (r * std::numbers::sqrt2);
    if (r > 11.0)
        return light > 0.45 ? White : light > -0.35 ? Silver : Grey;
    return (light > 0.6 && r > 6.5 && r < 9.0) ? White : Silver;
}

bool writeIcon1(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    // One character per colour: blank for transparent, then the palette in order.
    const char keys[] = "0123456789abcdef";
    QByteArray text = "/* XPM */\nstatic const char* const icon1_xpm[] = {\n";
    text += "\"32 32 17 1\",\n\"  c None\",\n";
    for (int i = 0; i < 16; ++i)
        text += QByteArray("\"") + keys[i] + " c #" +
                QByteArray::number(Palette[i] | 0x1000000, 16).mid(1).toUpper() + "\",\n";
    for (int y = 0; y < IconSize; ++y) {
        text += '"';
        for (int x = 0; x < IconSize; ++x) {
            const int index = headPixel(x, y);
            text += index == Transparent ? ' ' : keys[index];
        }
        text += y + 1 < IconSize ? "\",\n" : "\"\n";
    }
    text += "};\n";
    return file.write(text) == text.size();
}

// Drawn on a 48-unit square and scaled, so that every size shows the same bolt head.
bool writeMainIcon(const QString& path, int pixels = 48) {
    constexpr int size = 48;
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(pixels / double(size), pixels / double(size));
    const QPointF centre(size / 2.0, size / 2.0);
    const double radius = 22.5;
    QPolygonF hex;
    for (int i = 0; i < 6; ++i) {
        const double angle = i * std::numbers::pi / 3;
        hex << centre + QPointF(std::cos(angle), std::sin(angle)) * radius;
    }
    QRadialGradient steel(centre - QPointF(8, 8), radius * 1.6);
    steel.setColorAt(0, QColor(250, 250, 250));
    steel.setColorAt(1, QColor(110, 110, 120));
    p.setPen(QPen(QColor(255, 140, 0), 2));
    p.setBrush(steel);
    p.drawPolygon(hex);
    p.setPen(QPen(QColor(90, 90, 100), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius * Sqrt3 / 2 - 3, radius * Sqrt3 / 2 - 3);
    p.setBrush(QColor(0, 200, 200));
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.drawEllipse(centre, 6.5, 6.5);
    p.end();
    return image.save(path, "PNG");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(KREPIKS_ICON_DIR));
    const QString icon1 = dir.filePath(QStringLiteral("icon1.xpm"));
    const QString main = dir.filePath(QStringLiteral("mainicon.png"));
    if (!writeIcon1(icon1) || !writeMainIcon(main)) {
        std::fprintf(stderr, "make_icons: cannot write into %s\n", qPrintable(dir.path()));
        return 1;
    }
    std::printf("%s\n%s\n", qPrintable(icon1), qPrintable(main));
    // The desktop menu's sizes besides 48, installed into the hicolor theme.
    dir.mkpath(QStringLiteral("icons"));
    for (const int pixels : {16, 22, 24, 32, 64, 128, 256}) {
        const QString icon = dir.filePath(QStringLiteral("icons/krepiks-%1.png").arg(pixels));
        if (!writeMainIcon(icon, pixels)) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(icon));
            return 1;
        }
        std::printf("%s\n", qPrintable(icon));
    }
    return 0;
}
