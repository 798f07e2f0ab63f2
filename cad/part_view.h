#pragma once
// The 3D view of the active part on OpenCASCADE's viewer: shaded with its edges, oriented as
// the document says. Dragging with the left button orbits, with the middle or right button
// pans; the wheel zooms. Where no OpenGL context can be made (Qt's offscreen platform, a
// failing driver) it says so in place of the picture, and the rest of the window works on.
#include "cad/part_document.h"

#include <QWidget>
#include <memory>

class QLabel;
class QMenu;

namespace krepiks::cad {

class PartScene;

class PartView : public QWidget {
    Q_OBJECT
public:
    explicit PartView(QWidget* parent = nullptr);
    ~PartView() override;

    void setDocument(std::shared_ptr<PartDocument> doc);
    const std::shared_ptr<PartDocument>& document() const { return doc_; }
    // The document changed: show it again. Only what changed is shown anew.
    void refresh();
    // doc changed and will be shown soon: what takes long is done meanwhile, off this thread.
    void prepare(const std::shared_ptr<PartDocument>& doc);
    // OpenCASCADE's scene: null where there is no OpenGL, and until the view is first painted.
    PartScene* scene() const;
    // Front, top, right and isometric, each turning the document's view and fitting it.
    void addStandardViews(QMenu* menu);

    QSize sizeHint() const override { return {640, 480}; }

signals:
    // What the view shows is up to date with the document: drawn on screen, or, without
    // OpenGL, as far as there is anything to show.
    void painted();

private:
    class Viewport;
    void showUnavailable();

    std::shared_ptr<PartDocument> doc_;
    Viewport* viewport_ = nullptr;
    QLabel* unavailable_ = nullptr;
};

} // namespace krepiks::cad
