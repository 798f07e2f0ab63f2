#pragma once
// One part document of the CAD stand-in: reference planes from its template, named
// sketches of straight lines, reference axes, the solid built by revolves, extrusions and
// revolve cuts, the selection, and the model view's orientation. Plain C++ over
// OpenCASCADE, usable without any window.
//
// Every coordinate and length at this interface is in metres, as automation clients send
// them; the part itself is kept in its template's unit. A call that cannot be carried out
// returns false and leaves the part exactly as it was; a feature that could not be made is
// only noted, with the reason, among failures().
#include "cad/part_template.h"

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <array>
#include <functional>
#include <gp_Ax1.hxx>
#include <gp_Ax3.hxx>
#include <gp_Pnt2d.hxx>
#include <optional>
#include <string>
#include <vector>

namespace krepiks::cad {

enum class EntityKind { Plane, Sketch, SketchSegment, Axis, Face };

struct SelectedEntity {
    EntityKind kind = EntityKind::Plane;
    int index = -1;   // plane, sketch or axis; the sketch of a segment
    int segment = -1; // line within the sketch
    TopoDS_Face face; // EntityKind::Face: a face of the current body
    int mark = 0;
};

struct SketchLine {
    std::string name;    // "Line1", unique within its sketch
    gp_Pnt2d start, end; // sketch coordinates, model units
};

struct Sketch {
    std::string name;    // "Эскиз1", …
    gp_Ax3 frame;        // origin, normal (main direction) and sketch x axis, model units
    bool onFace = false; // drawn on a face of the body; its normal points out of the solid
    std::vector<SketchLine> lines;
    int lineCounter = 0;
    int refused = 0;     // lines and polygons asked for in it and not made
    std::string refusal; // why the last of them was not made
};

struct ReferenceAxis {
    std::string name;        // "Ось1", …
    gp_Ax1 axis;             // model units
    double from = 0, to = 0; // shown extent along the axis
};

enum class FeatureKind { Sketch, Revolve, Extrusion, Axis, RevolveCut };

// A feature asked for and not made: under the name it would have had (taking nothing from
// the numbering), after the features made before it, and why not, for the person at the
// window (in Russian).
struct FeatureFailure {
    std::string name;
    FeatureKind kind;
    std::string reason;
    std::size_t position; // how many features had been made when it was asked for
};

struct RevolveParams {
    double angle = 0; // radians
    bool reverse = false;
    double angle2 = 0; // second direction, for type 2
    int type = 0;      // 0 one direction, 1 mid-plane, 2 two directions
    bool merge = true; // boss only: join the existing body
};

struct ExtrusionParams {
    bool singleDirection = true;
    bool reverse = false;
    int endCondition = 0;  // 0 blind, 6 mid-plane
    int endCondition2 = 0; // second direction: 0 blind
    double depth = 0;
    double depth2 = 0;
    bool draft1 = false, draft2 = false;
    bool merge = true;
};

// What a feature was made from, for a program that makes the part again elsewhere.
struct FeatureInputs {
    int profile = -1;                   // the sketch of a revolve or extrusion
    std::optional<SelectedEntity> axis; // the line or axis a revolve turned about
    RevolveParams revolve;
    ExtrusionParams extrusion;
};

struct FeatureRecord {
    std::string name;
    FeatureKind kind;
    FeatureInputs inputs = {};
};

// Orientation of the model view: a row-major rotation from model to view axes.
struct ViewState {
    std::array<double, 9> rotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
    int rotations = 0;
    int zoomsToFit = 0;
};

// A triangulated body for display and checks, model units.
struct MeshData {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 3>> normals; // per vertex
    std::vector<std::array<uint32_t, 3>> triangles;
    std::vector<std::vector<std::array<float, 3>>> edges; // polylines of the body's edges
};

class PartDocument {
public:
    PartDocument(PartTemplate partTemplate, std::string title);
    ~PartDocument();
    PartDocument(const PartDocument&) = delete;
    PartDocument& operator=(const PartDocument&) = delete;

    const std::string& title() const { return title_; }
    const PartTemplate& partTemplate() const { return template_; }
    double unitsPerMetre() const { return template_.unitsPerMetre; }

    // Selection. Names and types as automation clients send them; a point in metres.
    bool selectById(const std::string& name, const std::string& type, double x, double y, double z,
                    bool append, int mark);
    void clearSelection();
    const std::vector<SelectedEntity>& selection() const { return selection_; }

    // Opens a sketch on the selected plane or planar face (the default plane when nothing
    // usable is selected), or closes the open sketch.
    void insertSketch();
    int activeSketch() const { return active_; }
    // Sketch coordinates in metres; z is ignored (it lies in the sketch plane).
    bool createLine(double x1, double y1, double z1, double x2, double y2, double z2);
    bool createPolygon(double xc, double yc, double zc, double xp, double yp, double zp, int sides,
                       bool inscribed);

    bool featureRevolve(const RevolveParams& params);
    bool featureExtrusion(const ExtrusionParams& params);
    bool insertAxis();
    bool featureRevolveCut(const RevolveParams& params);

    void rotateAboutCenter(double xAngle, double yAngle);
    void zoomToFit();
    const ViewState& view() const { return view_; }
    void setViewRotation(const std::array<double, 9>& rotation);

    const TopoDS_Shape& body() const { return body_; }
    const std::vector<Sketch>& sketches() const { return sketches_; }
    const std::vector<ReferenceAxis>& axes() const { return axes_; }
    const std::vector<FeatureRecord>& features() const { return features_; }
    const std::vector<FeatureFailure>& failures() const { return failures_; }
    // The frame of a reference plane, model units.
    gp_Ax3 planeFrame(int index) const;

    // Volume of the body in cubic model units; 0 without one. Cached per body.
    double volume() const;
    // The same by plain Gauss integration, as the cut checks it; cached per body.
    double quickVolume() const;
    // Triangulation of the body, fine enough to look smooth; cached per body.
    const MeshData& mesh() const;

    bool saveStep(const std::string& path, std::string* error = nullptr) const;
    bool saveStl(const std::string& path, std::string* error = nullptr) const;

    // Called after every change of geometry, tree, selection or view.
    void setObserver(std::function<void()> observer) { observer_ = std::move(observer); }

private:
    struct Profile;
    // Each of these says why when it fails.
    bool buildProfile(int sketch, Profile& out, std::string& why) const;
    int profileSketch() const;
    const SelectedEntity* revolveAxisEntity() const;
    FeatureInputs revolveInputs(const RevolveParams& params) const;
    bool revolveAxis(gp_Ax1& axis, std::string& why) const;
    bool makeRevolved(const RevolveParams& params, TopoDS_Shape& out, std::string& why) const;
    bool pickFace(const gp_Pnt& point, TopoDS_Face& face) const;
    bool setBody(const TopoDS_Shape& shape);
    void finishFeature(FeatureKind kind, const char* baseName, int& counter,
                       FeatureInputs inputs = {});
    // Notes the feature that could not be made; returns false.
    bool refuse(FeatureKind kind, std::string name, std::string why);
    // Notes a sketch entity that could not be made in the open sketch; returns false.
    bool refuseEntity(const char* why);
    void changed();
    double toModel(double metres) const { return metres * template_.unitsPerMetre; }

    PartTemplate template_;
    std::string title_;
    std::vector<gp_Ax3> planeFrames_;
    std::vector<Sketch> sketches_;
    std::vector<ReferenceAxis> axes_;
    std::vector<FeatureRecord> features_;
    std::vector<FeatureFailure> failures_;
    std::vector<SelectedEntity> selection_;
    int active_ = -1;
    int revolveCounter_ = 0, extrusionCounter_ = 0, cutCounter_ = 0;
    TopoDS_Shape body_;
    ViewState view_;
    mutable MeshData mesh_;
    mutable bool meshValid_ = false;
    mutable std::optional<double> volume_;
    mutable std::optional<double> quickVolume_;
    std::function<void()> observer_;
};

} // namespace krepiks::cad
