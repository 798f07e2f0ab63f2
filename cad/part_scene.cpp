#include "cad/part_scene.h"

#include <Aspect_DisplayConnection.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRep_Builder.hxx>
#include <Graphic3d_Camera.hxx>
#include <OpenGl_GraphicDriver.hxx>
#include <Precision.hxx>
#include <Prs3d_LineAspect.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Edge.hxx>
#include <V3d.hxx>
#include <Xw_Window.hxx>

namespace krepiks::cad {
namespace {

Quantity_Color Colour(int r, int g, int b) {
    return Quantity_Color(r / 255.0, g / 255.0, b / 255.0, Quantity_TOC_sRGB);
}

// One driver and display connection for every view of the program. Never destroyed: at exit
// Mesa may already have shut down when static destructors run.
const Handle(OpenGl_GraphicDriver) & Driver() {
    static const auto* driver =
        new Handle(OpenGl_GraphicDriver)(new OpenGl_GraphicDriver(new Aspect_DisplayConnection()));
    return *driver;
}

gp_Pnt OnSketch(const Sketch& sketch, const gp_Pnt2d& q) {
    const gp_Ax3& f = sketch.frame;
    return f.Location().Translated(gp_Vec(f.XDirection()) * q.X() + gp_Vec(f.YDirection()) * q.Y());
}

Handle(AIS_Shape) Lines(const TopoDS_Shape& edges, const Quantity_Color& colour,
                        Aspect_TypeOfLine type, double width) {
    Handle(AIS_Shape) shape = new AIS_Shape(edges);
    shape->SetDisplayMode(AIS_WireFrame);
    const Handle(Prs3d_Drawer)& drawer = shape->Attributes();
    drawer->SetWireAspect(new Prs3d_LineAspect(colour, type, width));
    drawer->SetLineAspect(new Prs3d_LineAspect(colour, type, width));
    // Drawn over the body, as a reference is in a CAD program.
    shape->SetZLayer(Graphic3d_ZLayerId_Topmost);
    return shape;
}

} // namespace

bool OpenGlAvailable() {
    static const bool available = [] {
        try {
            const Handle(OpenGl_GraphicDriver)& driver = Driver();
            Handle(V3d_Viewer) viewer = new V3d_Viewer(driver);
            Handle(V3d_View) view = viewer->CreateView();
            // Never mapped: only its OpenGL context is wanted.
            Handle(Xw_Window) probe =
                new Xw_Window(driver->GetDisplayConnection(), "", 0, 0, 16, 16);
            view->SetWindow(probe);
            const bool made = !driver->GetSharedContext().IsNull();
            view->Remove();
            return made;
        } catch (const Standard_Failure&) {
            return false;
        }
    }();
    return available;
}

Rotation StandardRotation(V3d_TypeOfOrientation orientation) {
    const gp_Dir towards = V3d::GetProjAxis(orientation);
    gp_Dir up = gp::DY();
    if (towards.IsParallel(up, Precision::Angular()))
        up = towards.Y() > 0 ? -gp::DZ() : gp::DZ();
    const gp_Dir right = up.Crossed(towards);
    up = towards.Crossed(right);
    return {right.X(), right.Y(),   right.Z(),   up.X(),     up.Y(),
            up.Z(),    towards.X(), towards.Y(), towards.Z()};
}

PartScene::PartScene(Aspect_Drawable window) {
    const Handle(OpenGl_GraphicDriver)& driver = Driver();
    viewer_ = new V3d_Viewer(driver);
    viewer_->SetDefaultLights();
    viewer_->SetLightOn();
    viewer_->SetDefaultShadingModel(Graphic3d_TypeOfShadingModel_Phong);
    context_ = new AIS_InteractiveContext(viewer_);
    view_ = viewer_->CreateView();
    Handle(Xw_Window) native = new Xw_Window(driver->GetDisplayConnection(), window);
    view_->SetWindow(native);
    if (driver->GetSharedContext().IsNull())
        throw Standard_Failure("no OpenGL context");
    if (!native->IsMapped())
        native->Map();
    // A pale sky fading to white, as CAD programs usually show.
    view_->SetBgGradientColors(Colour(199, 214, 237), Colour(250, 253, 255), Aspect_GFM_VER, false);
}

PartScene::~PartScene() {
    context_->RemoveAll(false);
    view_->Remove();
}

void PartScene::follow(const std::shared_ptr<PartDocument>& doc) {
    const bool newDocument = doc != doc_.lock();
    doc_ = doc;
    if (!doc) {
        context_->RemoveAll(false);
        shown_.clear();
        body_.Nullify();
        bounds_.SetVoid();
        redraw();
        return;
    }
    const int sketch = doc->activeSketch();
    const std::size_t lines = sketch >= 0 ? doc->sketches()[sketch].lines.size() : 0;
    const bool hadBody = !body_.IsNull();
    const bool geometry = newDocument || !body_.IsEqual(doc->body()) ||
                          axes_ != doc->axes().size() || sketch_ != sketch || sketchLines_ != lines;
    if (geometry)
        rebuild(*doc);
    const ViewState& state = doc->view();
    const bool turned = newDocument || state.rotation != rotation_;
    if (turned)
        orient(state.rotation);
    // A first body, a new document or the script's zoom to fit show the whole part.
    const bool fit =
        newDocument || state.zoomsToFit != zoomsToFit_ || (!hadBody && !body_.IsNull());
    if (fit) {
        zoomsToFit_ = state.zoomsToFit;
        fitAll();
    }
    // Other changes (the tree, the selection) leave the picture as it is.
    if (geometry || turned || fit)
        redraw();
}

void PartScene::prepare(const std::shared_ptr<PartDocument>& doc) {
    if (doc)
        mesher_.offer(doc->body());
}

void PartScene::rebuild(const PartDocument& doc) {
    context_->RemoveAll(false);
    shown_.clear();
    bounds_.SetVoid();
    body_ = doc.body();
    axes_ = doc.axes().size();
    sketch_ = doc.activeSketch();
    sketchLines_ = 0;
    if (!body_.IsNull()) {
        Handle(AIS_Shape) body = new AIS_Shape(mesher_.meshed(body_));
        const Handle(Prs3d_Drawer)& drawer = body->Attributes();
        StyleBody(drawer);
        drawer->SetFaceBoundaryDraw(true);
        drawer->SetFaceBoundaryAspect(
            new Prs3d_LineAspect(Colour(40, 44, 56), Aspect_TOL_SOLID, 1.5));
        body->SetMaterial(Graphic3d_NameOfMaterial_Satin);
        body->SetColor(Colour(168, 180, 196));
        body->SetDisplayMode(AIS_Shaded);
        shown_.push_back(body);
        BRepBndLib::Add(body_, bounds_);
    }
    BRep_Builder builder;
    if (!doc.axes().empty()) {
        TopoDS_Compound axes;
        builder.MakeCompound(axes);
        for (const ReferenceAxis& axis : doc.axes()) {
            const gp_Vec along(axis.axis.Direction());
            builder.Add(axes,
                        BRepBuilderAPI_MakeEdge(axis.axis.Location().Translated(along * axis.from),
                                                axis.axis.Location().Translated(along * axis.to))
                            .Edge());
        }
        shown_.push_back(Lines(axes, Colour(170, 30, 30), Aspect_TOL_DOTDASH, 1.5));
    }
    if (sketch_ >= 0) {
        const Sketch& sketch = doc.sketches()[sketch_];
        sketchLines_ = sketch.lines.size();
        TopoDS_Compound lines;
        builder.MakeCompound(lines);
        for (const SketchLine& l : sketch.lines) {
            const gp_Pnt a = OnSketch(sketch, l.start), b = OnSketch(sketch, l.end);
            if (a.Distance(b) > Precision::Confusion()) {
                builder.Add(lines, BRepBuilderAPI_MakeEdge(a, b).Edge());
                bounds_.Add(a);
                bounds_.Add(b);
            }
        }
        shown_.push_back(Lines(lines, Colour(20, 60, 200), Aspect_TOL_SOLID, 2));
    }
    for (const auto& object : shown_)
        // Not selectable: the view shows the part, the tree is where it is worked on.
        context_->Display(object, object->DisplayMode(), -1, false);
}

void PartScene::orient(const Rotation& r) {
    rotation_ = r;
    const Handle(Graphic3d_Camera)& camera = view_->Camera();
    const gp_Pnt centre =
        bounds_.IsVoid()
            ? camera->Center()
            : bounds_.CornerMin().Translated(gp_Vec(bounds_.CornerMin(), bounds_.CornerMax()) / 2);
    const gp_Vec towardsEye = gp_Vec(r[6], r[7], r[8]).Normalized() * camera->Distance();
    camera->SetEyeAndCenter(centre.Translated(towardsEye), centre);
    camera->SetUp(gp_Dir(r[3], r[4], r[5]));
    camera->OrthogonalizeUp();
    view_->ZFitAll();
}

void PartScene::fitAll() {
    // Drawn by the caller, once: fitting would otherwise draw the whole scene on its own.
    const bool immediate = view_->SetImmediateUpdate(false);
    if (bounds_.IsVoid())
        view_->FitAll(0.05, false);
    else
        view_->FitAll(bounds_, 0.05, false);
    view_->ZFitAll();
    view_->SetImmediateUpdate(immediate);
}

void PartScene::resized() {
    view_->MustBeResized();
}

void PartScene::redraw() {
    view_->Redraw();
}

void PartScene::startOrbit(int x, int y) {
    view_->StartRotation(x, y);
}

void PartScene::orbit(int x, int y) {
    view_->Rotation(x, y);
}

void PartScene::pan(int dx, int dy) {
    view_->Pan(dx, -dy);
}

void PartScene::zoom(double factor) {
    view_->SetZoom(factor);
}

Rotation PartScene::endOrbit() {
    rotation_ = rotation();
    return rotation_;
}

Rotation PartScene::rotation() const {
    const Handle(Graphic3d_Camera)& camera = view_->Camera();
    const gp_Dir up = camera->OrthogonalizedUp();
    const gp_Dir towards = camera->Direction().Reversed();
    const gp_Dir right = up.Crossed(towards);
    return {right.X(), right.Y(),   right.Z(),   up.X(),     up.Y(),
            up.Z(),    towards.X(), towards.Y(), towards.Z()};
}

} // namespace krepiks::cad
