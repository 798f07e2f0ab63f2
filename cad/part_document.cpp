#include "cad/part_geometry.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepBndLib.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GCPnts_TangentialDeflection.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace krepiks::cad {

PartDocument::PartDocument(PartTemplate partTemplate, std::string title)
    : template_(std::move(partTemplate)), title_(std::move(title)) {
    for (const TemplatePlane& p : template_.planes)
        planeFrames_.emplace_back(gp_Pnt(p.origin.x, p.origin.y, p.origin.z),
                                  gp_Dir(p.normal.x, p.normal.y, p.normal.z),
                                  gp_Dir(p.xDir.x, p.xDir.y, p.xDir.z));
    // A new part opens in an isometric view.
    const double a = std::atan(1 / std::sqrt(2.0));
    const double b = -std::numbers::pi / 4;
    view_.rotation = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    rotateAboutCenter(a, b);
    view_.rotations = 0;
}

PartDocument::~PartDocument() = default;

gp_Ax3 PartDocument::planeFrame(int index) const {
    return planeFrames_.at(index);
}

void PartDocument::changed() {
    if (observer_)
        observer_();
}

void PartDocument::rotateAboutCenter(double xAngle, double yAngle) {
    if (!std::isfinite(xAngle) || !std::isfinite(yAngle))
        return;
    const double cx = std::cos(xAngle), sx = std::sin(xAngle);
    const double cy = std::cos(yAngle), sy = std::sin(yAngle);
    // Turn about the screen's horizontal axis, then its vertical one.
    const std::array<double, 9> rx{1, 0, 0, 0, cx, -sx, 0, sx, cx};
    const std::array<double, 9> ry{cy, 0, sy, 0, 1, 0, -sy, 0, cy};
    auto mul = [](const std::array<double, 9>& a, const std::array<double, 9>& b) {
        std::array<double, 9> r{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    r[i * 3 + j] += a[i * 3 + k] * b[k * 3 + j];
        return r;
    };
    view_.rotation = mul(ry, mul(rx, view_.rotation));
    ++view_.rotations;
    changed();
}

void PartDocument::zoomToFit() {
    ++view_.zoomsToFit;
    changed();
}

void PartDocument::setViewRotation(const std::array<double, 9>& rotation) {
    view_.rotation = rotation;
    changed();
}

double PartDocument::volume() const {
    if (volume_)
        return *volume_;
    double v = 0;
    Guarded([&] {
        v = VolumeOf(body_);
        return true;
    });
    volume_ = v;
    return v;
}

double PartDocument::quickVolume() const {
    if (!quickVolume_)
        quickVolume_ = QuickVolumeOf(body_);
    return *quickVolume_;
}

const MeshData& PartDocument::mesh() const {
    if (meshValid_)
        return mesh_;
    mesh_ = MeshData();
    meshValid_ = true;
    if (body_.IsNull())
        return mesh_;
    Guarded([&] {
        Bnd_Box box;
        BRepBndLib::Add(body_, box);
        const double size = box.IsVoid() ? 1.0 : std::sqrt(box.SquareExtent());
        BRepMesh_IncrementalMesh(body_, size * 5e-4, Standard_False, 0.2);
        for (TopExp_Explorer e(body_, TopAbs_FACE); e.More(); e.Next()) {
            const TopoDS_Face& face = TopoDS::Face(e.Current());
            TopLoc_Location location;
            const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, location);
            if (tri.IsNull())
                continue;
            if (!tri->HasNormals())
                tri->ComputeNormals();
            const gp_Trsf& trsf = location.Transformation();
            const bool reversed = face.Orientation() == TopAbs_REVERSED;
            const auto base = static_cast<uint32_t>(mesh_.positions.size());
            for (int i = 1; i <= tri->NbNodes(); ++i) {
                const gp_Pnt p = tri->Node(i).Transformed(trsf);
                gp_Dir n = tri->Normal(i).Transformed(trsf);
                if (reversed)
                    n.Reverse();
                mesh_.positions.push_back({static_cast<float>(p.X()), static_cast<float>(p.Y()),
                                           static_cast<float>(p.Z())});
                mesh_.normals.push_back({static_cast<float>(n.X()), static_cast<float>(n.Y()),
                                         static_cast<float>(n.Z())});
            }
            for (int i = 1; i <= tri->NbTriangles(); ++i) {
                int a, b, c;
                tri->Triangle(i).Get(a, b, c);
                if (reversed)
                    std::swap(b, c);
                mesh_.triangles.push_back({base + a - 1, base + b - 1, base + c - 1});
            }
        }
        TopTools_IndexedDataMapOfShapeListOfShape edges;
        TopExp::MapShapesAndAncestors(body_, TopAbs_EDGE, TopAbs_FACE, edges);
        for (int i = 1; i <= edges.Extent(); ++i) {
            const TopoDS_Edge& edge = TopoDS::Edge(edges.FindKey(i));
            if (BRep_Tool::Degenerated(edge))
                continue;
            // The seam of a closed surface is no edge a person sees.
            const TopTools_ListOfShape& faces = edges.FindFromIndex(i);
            if (!faces.IsEmpty() && BRep_Tool::IsClosed(edge, TopoDS::Face(faces.First())))
                continue;
            BRepAdaptor_Curve curve(edge);
            GCPnts_TangentialDeflection points(curve, 0.1, size * 5e-4);
            std::vector<std::array<float, 3>> line;
            for (int k = 1; k <= points.NbPoints(); ++k) {
                const gp_Pnt p = points.Value(k);
                line.push_back({static_cast<float>(p.X()), static_cast<float>(p.Y()),
                                static_cast<float>(p.Z())});
            }
            mesh_.edges.push_back(std::move(line));
        }
        return true;
    });
    return mesh_;
}

} // namespace krepiks::cad
