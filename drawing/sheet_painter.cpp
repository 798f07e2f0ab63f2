#include "drawing/drafting_font.h"
#include "drawing/sheet_writers.h"

#include <QFontMetricsF>
#include <QPainterPath>

namespace krepiks::drawing {

namespace {

// The main line 0.7 thick, the thin lines 0.3 (GOST 2.303: S/3 to S/2).
constexpr double ThickWidth = 0.7, ThinWidth = 0.3;

QPen penFor(Pen pen, double unitsPerMm) {
    QPen qpen(Qt::black);
    qpen.setWidthF((pen == Pen::Thick ? ThickWidth : ThinWidth) * unitsPerMm);
    qpen.setJoinStyle(Qt::MiterJoin);
    qpen.setCapStyle(pen == Pen::Axis ? Qt::FlatCap : Qt::SquareCap);
    if (pen == Pen::Axis)
        // Dashes of 12 and gaps of 3 with a dot between, in units of the pen's width.
        qpen.setDashPattern({12 / ThinWidth, 3 / ThinWidth, 0.6 / ThinWidth, 3 / ThinWidth});
    return qpen;
}

} // namespace

void PaintSheet(QPainter& painter, const Sheet& sheet, double unitsPerMm) {
    painter.setRenderHint(QPainter::Antialiasing);
    const auto map = [&](Point p) {
        return QPointF(p.x * unitsPerMm, (sheet.height - p.y) * unitsPerMm);
    };
    painter.setBrush(Qt::NoBrush);
    for (const Path& path : sheet.paths) {
        painter.setPen(penFor(path.pen, unitsPerMm));
        QPolygonF polygon;
        for (const Point& p : path.points)
            polygon << map(p);
        if (path.closed)
            painter.drawPolygon(polygon);
        else
            painter.drawPolyline(polygon);
    }
    for (const Arc& arc : sheet.arcs) {
        painter.setPen(penFor(arc.pen, unitsPerMm));
        const QPointF centre = map(arc.centre);
        const double r = arc.radius * unitsPerMm;
        const QRectF box(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        QPainterPath path;
        path.arcMoveTo(box, arc.startDeg);
        path.arcTo(box, arc.startDeg, arc.sweepDeg);
        painter.drawPath(path);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    for (const Arrow& arrow : sheet.arrows)
        painter.drawPolygon(
            QPolygonF{map(arrow.corners[0]), map(arrow.corners[1]), map(arrow.corners[2])});

    const QFont font = DraftingFont();
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    for (const Text& text : sheet.texts) {
        const QString string = QString::fromUtf8(text.text);
        const double width = metrics.horizontalAdvance(string);
        const double offset = text.anchor == Anchor::Left     ? 0
                              : text.anchor == Anchor::Centre ? -width / 2
                                                              : -width;
        const double k = EmForCapHeight(text.height) / ReferenceEm * unitsPerMm;
        painter.save();
        painter.translate(map(text.at));
        painter.rotate(-text.angleDeg);
        painter.scale(k * text.widthFactor, k);
        painter.drawText(QPointF(offset, 0), string);
        painter.restore();
    }
}

} // namespace krepiks::drawing
