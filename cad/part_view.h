#pragma once
// The shaded 3D view of a part: a small software renderer over the document's mesh, so it
// needs no OpenGL and draws the same on every platform, offscreen included. Dragging with
// the left button orbits the view about its centre; the wheel zooms.
#include "cad/part_document.h"

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <memory>

namespace krepiks::cad {

// Draws doc as seen through its view orientation, fitted to size and scaled by zoom.
QImage RenderPart(const PartDocument& doc, QSize size, double zoom = 1.0);

// The background colour of an empty spot of the view, at row y of height h.
QColor ViewBackground(int y, int h);

class PartView : public QWidget {
    Q_OBJECT
public:
    explicit PartView(QWidget* parent = nullptr);

    void setDocument(std::shared_ptr<PartDocument> doc);
    const std::shared_ptr<PartDocument>& document() const { return doc_; }
    double zoom() const { return zoom_; }
    // The document changed: draw it again (and fit it again after a zoom to fit).
    void refresh();

    QSize sizeHint() const override { return {640, 480}; }

signals:
    // The view has been drawn on screen.
    void painted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    std::shared_ptr<PartDocument> doc_;
    QImage image_;
    bool stale_ = true;
    double zoom_ = 1.0;
    int zoomsToFitSeen_ = 0;
    bool dragging_ = false;
    QPoint last_;
};

} // namespace krepiks::cad
