#pragma once
// The OpenCASCADE scene of one part view: its viewer and view on a native window, and the
// presentations of a document's body, reference axes and open sketch. The view follows the
// document's orientation; no window toolkit, the widget hosting it passes the window handle
// and the mouse.
#include "cad/body_mesher.h"
#include "cad/part_document.h"

#include <AIS_InteractiveContext.hxx>
#include <AIS_Shape.hxx>
#include <Aspect_Drawable.hxx>
#include <Bnd_Box.hxx>
#include <V3d_TypeOfOrientation.hxx>
#include <V3d_View.hxx>
#include <V3d_Viewer.hxx>
#include <array>
#include <memory>
#include <vector>

namespace krepiks::cad {

using Rotation = std::array<double, 9>;

// Whether OpenGL can draw on this display at all: tried once, on a window of its own, so
// that a view can choose between the picture and a note before it is ever shown.
bool OpenGlAvailable();

// The document's orientation for one of OpenCASCADE's standard projections, the model's Y
// axis up (the top view has -Z up, as CAD programs show it).
Rotation StandardRotation(V3d_TypeOfOrientation orientation);

class PartScene {
public:
    // Throws Standard_Failure when no OpenGL context can be made on window.
    explicit PartScene(Aspect_Drawable window);
    ~PartScene();
    PartScene(const PartScene&) = delete;
    PartScene& operator=(const PartScene&) = delete;

    // Catches up with doc (null: an empty view): presentations when its geometry changed,
    // the camera when its orientation or its count of zooms to fit changed. Draws.
    void follow(const std::shared_ptr<PartDocument>& doc);
    // doc changed and will be followed soon: its body is meshed meanwhile, off this thread.
    void prepare(const std::shared_ptr<PartDocument>& doc);
    const BodyMesher& mesher() const { return mesher_; }
    void fitAll();
    void resized();
    void redraw();

    // Pixel positions on the window, y downwards.
    void startOrbit(int x, int y);
    void orbit(int x, int y);
    void pan(int dx, int dy);
    void zoom(double factor);
    // The orientation an orbit ended in, taken as followed so the view does not jump when
    // the document is given it.
    Rotation endOrbit();
    // The camera's orientation in the document's terms: rows are the screen's right, up and
    // towards the eye, in model axes.
    Rotation rotation() const;

    const Handle(V3d_View) & view() const { return view_; }
    const Handle(AIS_InteractiveContext) & context() const { return context_; }

private:
    void rebuild(const PartDocument& doc);
    void orient(const Rotation& rotation);

    BodyMesher mesher_;
    Handle(V3d_Viewer) viewer_;
    Handle(V3d_View) view_;
    Handle(AIS_InteractiveContext) context_;
    std::vector<Handle(AIS_InteractiveObject)> shown_;
    Bnd_Box bounds_;

    // What the presentations and the camera were made from.
    std::weak_ptr<PartDocument> doc_;
    TopoDS_Shape body_;
    std::size_t axes_ = 0;
    int sketch_ = -1;
    std::size_t sketchLines_ = 0;
    Rotation rotation_{};
    int zoomsToFit_ = 0;
};

} // namespace krepiks::cad
