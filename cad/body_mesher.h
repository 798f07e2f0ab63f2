#pragma once
// Meshes the bodies a view will show on a thread of its own, as soon as each is made. A
// build makes a new body every few calls; each keeps the mesh of the faces it shares with
// the one before, so that when the calls end only what the last feature changed is left to
// mesh, and the thread that answers the calls meshes nothing.
#include <NCollection_DataMap.hxx>
#include <Prs3d_Drawer.hxx>
#include <TopTools_ShapeMapHasher.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace krepiks::cad {

// How the view draws a body: the deflection its mesh is made to, and its looks.
void StyleBody(const Handle(Prs3d_Drawer) & drawer);

class BodyMesher {
public:
    BodyMesher();
    // Waits for the mesh under way, if any.
    ~BodyMesher();
    BodyMesher(const BodyMesher&) = delete;
    BodyMesher& operator=(const BodyMesher&) = delete;

    // A body the view may show soon. A body offered and not yet begun gives way to a newer.
    void offer(const TopoDS_Shape& body);
    // A copy of body meshed as StyleBody says, for the view to show: the document's own
    // shape keeps no mesh of the view's, so what it saves as STL never depends on what was
    // shown. Waits until the mesh is ready.
    TopoDS_Shape meshed(const TopoDS_Shape& body);

    // What the last mesh had to do: its body's faces, and those that kept the mesh they had
    // in the body before (only when that was meshed to the same deflection, so that the view
    // shows what meshing the body afresh would).
    struct Work {
        int faces = 0;
        int kept = 0;
    };
    Work lastWork() const;

private:
    struct Job {
        TopoDS_Shape body, copy;
        // Each face of body with its face in copy.
        std::vector<std::pair<TopoDS_Shape, TopoDS_Face>> faces;
    };
    static Job Prepare(const TopoDS_Shape& body);
    // On the mesher's thread only, as is everything below that it reads.
    Work mesh(const Job& job);
    void run();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool ending_ = false;
    Job next_, current_, done_;
    Work lastWork_;
    // The faces of the last body meshed, by the document's face: their meshed copies, and
    // the deflection they were meshed to.
    NCollection_DataMap<TopoDS_Shape, TopoDS_Face, TopTools_ShapeMapHasher> lastFaces_;
    double lastDeflection_ = 0;
    std::thread worker_;
};

} // namespace krepiks::cad
