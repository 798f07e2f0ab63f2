// The view's meshes, made aside while a build goes on.
#include "bolt_steps.h"
#include "cad/body_mesher.h"

#include <BRepAlgoAPI_Common.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Tool.hxx>
#include <StdPrs_ToolTriangulatedShape.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Ax2.hxx>
#include <gtest/gtest.h>

using namespace krepiks::cad;
using namespace krepiks::cad::test;

namespace {

struct MeshSize {
    int faces = 0, untriangulated = 0, nodes = 0, triangles = 0;
};

MeshSize SizeOf(const TopoDS_Shape& shape) {
    MeshSize size;
    for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
        ++size.faces;
        TopLoc_Location location;
        const Handle(Poly_Triangulation)& mesh =
            BRep_Tool::Triangulation(TopoDS::Face(e.Current()), location);
        if (mesh.IsNull()) {
            ++size.untriangulated;
            continue;
        }
        size.nodes += mesh->NbNodes();
        size.triangles += mesh->NbTriangles();
    }
    return size;
}

Handle(Prs3d_Drawer) ViewDrawer() {
    Handle(Prs3d_Drawer) drawer = new Prs3d_Drawer();
    StyleBody(drawer);
    return drawer;
}

MeshSize FreshMesh(const TopoDS_Shape& body) {
    const TopoDS_Shape copy = BRepBuilderAPI_Copy(body, true, false).Shape();
    StdPrs_ToolTriangulatedShape::Tessellate(copy, ViewDrawer());
    return SizeOf(copy);
}

} // namespace

// A feature that shortens the part makes the view's deflection finer: the faces it leaves
// alone are meshed anew, not kept as coarse as they were, and the other way round.
TEST(BodyMesher, ABodyOfAnotherSizeEndsAsAFreshMeshWould) {
    // A slab with a small round boss, and a long bar on it that the cut takes away: the
    // boss's mesh follows the deflection, as no segment is cut shorter than a tenth of it.
    const TopoDS_Shape slab =
        BRepAlgoAPI_Fuse(
            BRepPrimAPI_MakeBox(gp_Pnt(-100, 0, 0), 200, 20, 20).Shape(),
            BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(50, 10, 20), gp::DZ()), 1, 5).Shape())
            .Shape();
    const TopoDS_Shape large =
        BRepAlgoAPI_Fuse(slab, BRepPrimAPI_MakeBox(gp_Pnt(-5, 0, 20), 10, 5, 4000).Shape()).Shape();
    const TopoDS_Shape small =
        BRepAlgoAPI_Cut(large, BRepPrimAPI_MakeBox(gp_Pnt(-10, -10, 30), 20, 20, 5000).Shape())
            .Shape();
    TopTools_IndexedMapOfShape largeFaces;
    TopExp::MapShapes(large, TopAbs_FACE, largeFaces);
    int shared = 0;
    for (TopExp_Explorer e(small, TopAbs_FACE); e.More(); e.Next())
        shared += largeFaces.Contains(e.Current()) ? 1 : 0;
    ASSERT_GT(shared, 0) << "the cut leaves the slab's faces as they were";

    BodyMesher mesher;
    for (const auto& [before, after] : {std::pair{large, small}, std::pair{small, large}}) {
        mesher.meshed(before);
        const MeshSize shown = SizeOf(mesher.meshed(after));
        const MeshSize whole = FreshMesh(after);
        EXPECT_EQ(shown.untriangulated, 0);
        EXPECT_EQ(shown.nodes, whole.nodes);
        EXPECT_EQ(shown.triangles, whole.triangles);
    }
}

TEST(BodyMesher, EachBodyKeepsWhatItSharesWithTheOneBeforeAndEndsAsAFreshMeshWould) {
    PartDocument doc(ShippedTemplate(), "Деталь1");
    BodyMesher mesher;
    std::vector<BodyMesher::Work> work;
    // As the view sees a build: each body offered when made, and shown.
    const StepResults steps = BuildBolt(doc, WorkedExample(), Stage::Chamfer, [&] {
        mesher.offer(doc.body());
        mesher.meshed(doc.body());
        work.push_back(mesher.lastWork());
    });
    ASSERT_TRUE(steps.chamfer);
    ASSERT_EQ(work.size(), 3u);
    EXPECT_EQ(work[0].kept, 0) << "the first body has nothing before it";
    // The chamfer leaves the shank and the underside of the head as they were.
    EXPECT_GT(work[2].kept, 0);
    EXPECT_LT(work[2].kept, work[2].faces) << "what the chamfer cut is meshed anew";

    const TopoDS_Shape shown = mesher.meshed(doc.body());
    const MeshSize size = SizeOf(shown);
    EXPECT_EQ(size.faces, work[2].faces);
    EXPECT_EQ(size.untriangulated, 0);
    // The view takes the mesh as it is, and it is the mesh the body would get all at once.
    EXPECT_TRUE(StdPrs_ToolTriangulatedShape::IsTessellated(shown, ViewDrawer()));
    const TopoDS_Shape fresh = BRepBuilderAPI_Copy(doc.body(), true, false).Shape();
    StdPrs_ToolTriangulatedShape::Tessellate(fresh, ViewDrawer());
    const MeshSize whole = SizeOf(fresh);
    EXPECT_EQ(size.nodes, whole.nodes);
    EXPECT_EQ(size.triangles, whole.triangles);
    // The document's own body carries none of it: its STL is meshed to its own measure.
    EXPECT_EQ(SizeOf(doc.body()).untriangulated, size.faces);

    // A body offered and given way to a newer before it was begun is never waited for.
    PartDocument other(ShippedTemplate(), "Деталь2");
    BuildBolt(other, SampleVariants().front(), Stage::Chamfer, [&] { mesher.offer(other.body()); });
    EXPECT_EQ(SizeOf(mesher.meshed(other.body())).untriangulated, 0);
}
