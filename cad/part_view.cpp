#include "cad/part_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace krepiks::cad {
namespace {

using Mat = std::array<double, 9>;

struct V3 {
    double x, y, z;
};

V3 Apply(const Mat& r, double x, double y, double z) {
    return {r[0] * x + r[1] * y + r[2] * z, r[3] * x + r[4] * y + r[5] * z,
            r[6] * x + r[7] * y + r[8] * z};
}

Mat Multiply(const Mat& a, const Mat& b) {
    Mat m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                m[i * 3 + j] += a[i * 3 + k] * b[k * 3 + j];
    return m;
}

// Screen placement: model point → pixel x, y and depth (larger is nearer).
struct Projection {
    Mat rotation;
    V3 centre; // of the model's bounding box, in view axes
    double scale;
    double halfWidth, halfHeight;

    V3 operator()(double x, double y, double z) const {
        const V3 v = Apply(rotation, x, y, z);
        return {halfWidth + (v.x - centre.x) * scale, halfHeight - (v.y - centre.y) * scale,
                v.z - centre.z};
    }
};

struct Canvas {
    QImage& image;
    std::vector<float> depth;

    void plot(int x, int y, float z, QRgb colour, float bias) {
        if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
            return;
        float& d = depth[static_cast<std::size_t>(y) * image.width() + x];
        if (z + bias >= d) {
            if (z > d)
                d = z;
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
        }
    }

    void line(const V3& a, const V3& b, QRgb colour, float bias) {
        const double steps = std::max({std::abs(b.x - a.x), std::abs(b.y - a.y), 1.0});
        for (int i = 0; i <= static_cast<int>(steps); ++i) {
            const double t = i / steps;
            plot(static_cast<int>(std::lround(a.x + (b.x - a.x) * t)),
                 static_cast<int>(std::lround(a.y + (b.y - a.y) * t)),
                 static_cast<float>(a.z + (b.z - a.z) * t), colour, bias);
        }
    }
};

} // namespace

QColor ViewBackground(int y, int h) {
    // A pale sky fading to white, as CAD programs usually show.
    const double t = h > 1 ? static_cast<double>(y) / (h - 1) : 0;
    return QColor::fromRgbF(0.78 + 0.2 * t, 0.84 + 0.15 * t, 0.93 + 0.07 * t);
}

QImage RenderPart(const PartDocument& doc, QSize size, double zoom) {
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb c = ViewBackground(y, image.height()).rgb();
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), image.width(), c);
    }
    const MeshData& mesh = doc.mesh();
    const Mat& rotation = doc.view().rotation;

    // Fit the bounding sphere of what is shown, so that orbiting does not change the scale.
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    auto grow = [&](double x, double y, double z) {
        const double p[3] = {x, y, z};
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], p[i]);
            hi[i] = std::max(hi[i], p[i]);
        }
    };
    for (const auto& p : mesh.positions)
        grow(p[0], p[1], p[2]);
    const int active = doc.activeSketch();
    if (active >= 0)
        for (const SketchLine& l : doc.sketches()[active].lines)
            for (const gp_Pnt2d& q : {l.start, l.end}) {
                const gp_Ax3& f = doc.sketches()[active].frame;
                const gp_Pnt p = f.Location().Translated(gp_Vec(f.XDirection()) * q.X() +
                                                         gp_Vec(f.YDirection()) * q.Y());
                grow(p.X(), p.Y(), p.Z());
            }
    if (lo[0] > hi[0]) {
        const double unit = doc.unitsPerMetre() / 100; // an empty part: a 10 mm box
        grow(-unit, -unit, -unit);
        grow(unit, unit, unit);
    }
    const double mid[3] = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
    const double radius = std::max(1e-9, std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) +
                                                   (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                                   (hi[2] - lo[2]) * (hi[2] - lo[2])) /
                                             2);
    Projection project{rotation, Apply(rotation, mid[0], mid[1], mid[2]),
                       0.92 * std::min(image.width(), image.height()) / (2 * radius) * zoom,
                       image.width() / 2.0, image.height() / 2.0};

    Canvas canvas{image,
                  std::vector<float>(static_cast<std::size_t>(image.width()) * image.height(),
                                     -std::numeric_limits<float>::infinity())};
    std::vector<V3> screen;
    std::vector<V3> normals;
    screen.reserve(mesh.positions.size());
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
        const auto& p = mesh.positions[i];
        const auto& n = mesh.normals[i];
        screen.push_back(project(p[0], p[1], p[2]));
        normals.push_back(Apply(rotation, n[0], n[1], n[2]));
    }
    // A headlight a little above and to the left of the eye.
    const V3 light{-0.35, 0.45, 0.82};
    const double lightLength = std::sqrt(light.x * light.x + light.y * light.y + light.z * light.z);
    for (const auto& t : mesh.triangles) {
        const V3 &a = screen[t[0]], &b = screen[t[1]], &c = screen[t[2]];
        const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (std::abs(area) < 1e-12)
            continue;
        const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
        const int x1 =
            std::min(image.width() - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
        const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
        const int y1 =
            std::min(image.height() - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
        for (int y = y0; y <= y1; ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double w0 = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) / area;
                const double w1 = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) / area;
                const double w2 = 1 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0)
                    continue;
                const float z = static_cast<float>(w0 * a.z + w1 * b.z + w2 * c.z);
                float& d = canvas.depth[static_cast<std::size_t>(y) * image.width() + x];
                if (z <= d)
                    continue;
                d = z;
                const V3 &na = normals[t[0]], &nb = normals[t[1]], &nc = normals[t[2]];
                V3 n{w0 * na.x + w1 * nb.x + w2 * nc.x, w0 * na.y + w1 * nb.y + w2 * nc.y,
                     w0 * na.z + w1 * nb.z + w2 * nc.z};
                const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
                const double diffuse =
                    len > 0 ? std::abs(n.x * light.x + n.y * light.y + n.z * light.z) /
                                  (len * lightLength)
                            : 0.5;
                const double shade = 0.28 + 0.72 * diffuse;
                const double shine = std::pow(diffuse, 40) * 0.35;
                auto channel = [&](double base) {
                    return std::clamp(static_cast<int>(base * shade + 255 * shine), 0, 255);
                };
                row[x] = qRgb(channel(168), channel(180), channel(196));
            }
        }
    }
    // Edges over the shading, hidden where the body is in front of them.
    const float bias = static_cast<float>(radius * 0.01);
    for (const auto& polyline : mesh.edges)
        for (std::size_t i = 1; i < polyline.size(); ++i) {
            const auto& p = polyline[i - 1];
            const auto& q = polyline[i];
            canvas.line(project(p[0], p[1], p[2]), project(q[0], q[1], q[2]), qRgb(40, 44, 56),
                        bias);
        }
    // Reference axes and the open sketch, always in front.
    const float always = std::numeric_limits<float>::infinity();
    for (const ReferenceAxis& axis : doc.axes()) {
        const gp_Pnt a = axis.axis.Location().Translated(gp_Vec(axis.axis.Direction()) * axis.from);
        const gp_Pnt b = axis.axis.Location().Translated(gp_Vec(axis.axis.Direction()) * axis.to);
        const V3 sa = project(a.X(), a.Y(), a.Z()), sb = project(b.X(), b.Y(), b.Z());
        const double length = std::hypot(sb.x - sa.x, sb.y - sa.y);
        // Dash-dot, as axes are drawn.
        for (double s = 0; s < length; s += 16) {
            const double t0 = s / length, t1 = std::min(1.0, (s + 9) / length);
            const double t2 = std::min(1.0, (s + 12) / length);
            auto at = [&](double t) {
                return V3{sa.x + (sb.x - sa.x) * t, sa.y + (sb.y - sa.y) * t, 0};
            };
            canvas.line(at(t0), at(t1), qRgb(170, 30, 30), always);
            canvas.line(at(t2), at(t2), qRgb(170, 30, 30), always);
        }
    }
    if (active >= 0) {
        const Sketch& sketch = doc.sketches()[active];
        for (const SketchLine& l : sketch.lines) {
            auto onModel = [&](const gp_Pnt2d& q) {
                const gp_Ax3& f = sketch.frame;
                const gp_Pnt p = f.Location().Translated(gp_Vec(f.XDirection()) * q.X() +
                                                         gp_Vec(f.YDirection()) * q.Y());
                return project(p.X(), p.Y(), p.Z());
            };
            canvas.line(onModel(l.start), onModel(l.end), qRgb(20, 60, 200), always);
        }
    }
    return image;
}

PartView::PartView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PartView"));
    setMinimumSize(160, 120);
    setFocusPolicy(Qt::StrongFocus);
}

void PartView::setDocument(std::shared_ptr<PartDocument> doc) {
    if (doc == doc_)
        return;
    doc_ = std::move(doc);
    zoom_ = 1.0;
    zoomsToFitSeen_ = doc_ ? doc_->view().zoomsToFit : 0;
    refresh();
}

void PartView::refresh() {
    if (doc_ && doc_->view().zoomsToFit != zoomsToFitSeen_) {
        zoomsToFitSeen_ = doc_->view().zoomsToFit;
        zoom_ = 1.0;
    }
    stale_ = true;
    update();
}

void PartView::paintEvent(QPaintEvent*) {
    if (stale_ || image_.size() != size()) {
        if (doc_) {
            image_ = RenderPart(*doc_, size(), zoom_);
        } else {
            image_ = QImage(size(), QImage::Format_RGB32);
            QPainter fill(&image_);
            for (int y = 0; y < image_.height(); ++y) {
                fill.setPen(ViewBackground(y, image_.height()));
                fill.drawLine(0, y, image_.width(), y);
            }
        }
        stale_ = false;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
    painter.end();
    emit painted();
}

void PartView::resizeEvent(QResizeEvent*) {
    stale_ = true;
}

void PartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        last_ = event->position().toPoint();
    }
}

void PartView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !doc_)
        return;
    const QPoint now = event->position().toPoint();
    const QPoint delta = now - last_;
    last_ = now;
    // A drag across the view's width turns the part half round.
    const double perPixel = 3.14159265358979 / std::max(1, width());
    const double ax = delta.y() * perPixel, ay = delta.x() * perPixel;
    const double cx = std::cos(ax), sx = std::sin(ax), cy = std::cos(ay), sy = std::sin(ay);
    const Mat rx{1, 0, 0, 0, cx, -sx, 0, sx, cx};
    const Mat ry{cy, 0, sy, 0, 1, 0, -sy, 0, cy};
    doc_->setViewRotation(Multiply(ry, Multiply(rx, doc_->view().rotation)));
    refresh();
}

void PartView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        dragging_ = false;
}

void PartView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    zoom_ = std::clamp(zoom_ * std::pow(1.15, steps), 0.05, 50.0);
    refresh();
    event->accept();
}

} // namespace krepiks::cad
