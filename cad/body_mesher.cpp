#include "cad/body_mesher.h"

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Standard_Failure.hxx>
#include <StdPrs_ToolTriangulatedShape.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <cmath>
#include <numbers>

namespace krepiks::cad {

namespace {

// Gives copy the mesh of kept, a copy of the same face: its triangulation, taken as made to
// deflection, and each edge's polygon on it, which tells the mesher that the face is done
// and how its edges are cut.
Handle(Poly_Triangulation)
    KeepMesh(const TopoDS_Face& kept, const TopoDS_Face& copy, double deflection) {
    TopLoc_Location location;
    const Handle(Poly_Triangulation)& mesh = BRep_Tool::Triangulation(kept, location);
    if (mesh.IsNull())
        return mesh;
    BRep_Builder builder;
    const Handle(Poly_Triangulation) own = mesh->Copy();
    own->Deflection(deflection);
    builder.UpdateFace(copy, own);
    // Both are copies of one face: their edges come in the same order.
    TopExp_Explorer from(kept, TopAbs_EDGE), to(copy, TopAbs_EDGE);
    for (; from.More() && to.More(); from.Next(), to.Next()) {
        const TopoDS_Edge& keptEdge = TopoDS::Edge(from.Current());
        const TopoDS_Edge& edge = TopoDS::Edge(to.Current());
        const Handle(Poly_PolygonOnTriangulation) polygon =
            BRep_Tool::PolygonOnTriangulation(keptEdge, mesh, location);
        if (polygon.IsNull())
            continue;
        if (BRep_Tool::IsClosed(keptEdge, kept)) {
            // A seam: the face meets it twice, a polygon for each side.
            // Held by value: the reversed edge is a temporary.
            const Handle(Poly_PolygonOnTriangulation) other = BRep_Tool::PolygonOnTriangulation(
                TopoDS::Edge(keptEdge.Reversed()), mesh, location);
            const bool forward = keptEdge.Orientation() == TopAbs_FORWARD;
            builder.UpdateEdge(edge, forward ? polygon : other, forward ? other : polygon, own,
                               location);
        } else {
            builder.UpdateEdge(edge, polygon, own, location);
        }
    }
    return own;
}

Handle(Poly_Triangulation) MeshOf(const TopoDS_Face& face) {
    TopLoc_Location location;
    return BRep_Tool::Triangulation(face, location);
}

} // namespace

void StyleBody(const Handle(Prs3d_Drawer) & drawer) {
    drawer->SetDeviationAngle(5 * std::numbers::pi / 180);
    drawer->SetDeviationCoefficient(0.0005);
    // Taken as the deflection the body was meshed to, so that showing a body meshed
    // beforehand does not clear its mesh as one made to other settings.
    drawer->UpdatePreviousDeviationAngle();
    drawer->UpdatePreviousDeviationCoefficient();
}

BodyMesher::BodyMesher() : worker_([this] { run(); }) {}

BodyMesher::~BodyMesher() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

BodyMesher::Job BodyMesher::Prepare(const TopoDS_Shape& body) {
    // With its own geometry: the mesher's thread shares nothing with the document's. Made
    // here, as the document may change its shapes' tolerances in the next feature.
    Job job;
    job.body = body;
    BRepBuilderAPI_Copy copier(body, true, false);
    job.copy = copier.Shape();
    TopTools_IndexedMapOfShape faces;
    TopExp::MapShapes(body, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); ++i)
        job.faces.emplace_back(faces(i), TopoDS::Face(copier.ModifiedShape(faces(i))));
    return job;
}

BodyMesher::Work BodyMesher::mesh(const Job& job) {
    Handle(Prs3d_Drawer) drawer = new Prs3d_Drawer();
    StyleBody(drawer);
    // As the view's own presentation would mesh it; faces already meshed stay as they are.
    const double deflection = StdPrs_ToolTriangulatedShape::GetDeflection(job.copy, drawer);
    Work work;
    // The deflection follows the body's bounding box, which a cut's tolerances widen by a
    // few parts in a billion.
    const bool keep = std::abs(deflection - lastDeflection_) <= 1e-6 * deflection;
    NCollection_DataMap<TopoDS_Shape, TopoDS_Face, TopTools_ShapeMapHasher> faces;
    std::vector<Handle(Poly_Triangulation)> given;
    for (const auto& [face, copy] : job.faces) {
        const TopoDS_Face* kept = keep ? lastFaces_.Seek(face) : nullptr;
        given.push_back(kept ? KeepMesh(*kept, copy, deflection) : nullptr);
        faces.Bind(face, copy);
    }
    lastFaces_ = std::move(faces);
    lastDeflection_ = deflection;
    try {
        BRepMesh_IncrementalMesh(job.copy, deflection, Standard_False, drawer->DeviationAngle());
    } catch (const Standard_Failure&) {
        // The view's presentation meshes what is left and shows what it can.
    }
    for (size_t i = 0; i < job.faces.size(); ++i) {
        ++work.faces;
        // Kept only if the mesher found it good enough to leave.
        if (!given[i].IsNull() && MeshOf(job.faces[i].second) == given[i])
            ++work.kept;
    }
    return work;
}

void BodyMesher::offer(const TopoDS_Shape& body) {
    if (body.IsNull())
        return;
    {
        std::lock_guard lock(mutex_);
        if (body.IsEqual(next_.body) || body.IsEqual(current_.body) || body.IsEqual(done_.body))
            return;
    }
    Job job = Prepare(body);
    {
        std::lock_guard lock(mutex_);
        next_ = std::move(job);
    }
    changed_.notify_all();
}

TopoDS_Shape BodyMesher::meshed(const TopoDS_Shape& body) {
    offer(body);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return body.IsEqual(done_.body); });
    return done_.copy;
}

BodyMesher::Work BodyMesher::lastWork() const {
    std::lock_guard lock(mutex_);
    return lastWork_;
}

void BodyMesher::run() {
    // Not lowered in priority: the thread that answers calls waits for it at the end, and
    // could not raise it again.
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return ending_ || !next_.body.IsNull(); });
        if (ending_)
            return;
        current_ = std::exchange(next_, {});
        lock.unlock();
        const Work work = mesh(current_);
        lock.lock();
        lastWork_ = work;
        done_ = std::exchange(current_, {});
        changed_.notify_all();
    }
}

} // namespace krepiks::cad
