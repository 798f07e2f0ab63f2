#include "drawing/part_build.h"

#include "cad/cad_server.h"
#include "cad/part_geometry.h"
#include "model/solidworks.h"

#include <BRepBuilderAPI_Transform.hxx>
#include <gp_Trsf.hxx>

namespace krepiks::drawing {

namespace {

// Registers the stand-in for this build and leaves nothing of it behind.
struct InProcessCad {
    InProcessCad() { cad::RegisterCadServer(); }
    ~InProcessCad() {
        if (const auto session = cad::RunningCadSession())
            session->quit();
        ReleaseSolidWorks();
        cad::UnregisterCadServer();
    }
};

} // namespace

BuiltPart BuildPart(TBolt bolt) {
    BuiltPart part;
    InProcessCad cad;
    try {
        BuildModel(bolt);
    } catch (const std::exception& failure) {
        part.refusal = failure.what();
        return part;
    }
    const auto session = cad::RunningCadSession();
    const auto document = session ? session->activeDocument() : nullptr;
    if (!document) {
        part.refusal = "Деталь не создана";
        return part;
    }
    return PartOf(*document);
}

BuiltPart PartOf(const cad::PartDocument& document) {
    BuiltPart part;
    if (!document.failures().empty()) {
        const cad::FeatureFailure& failure = document.failures().front();
        part.refusal = "Не удалось построить «" + failure.name + "» — " + failure.reason;
        return part;
    }
    if (document.body().IsNull()) {
        part.refusal = "Тела нет";
        return part;
    }
    const double toMm = 1000 / document.unitsPerMetre();
    // Three figures of the mass need none of the refined integration's digits.
    part.volume = document.quickVolume() * toMm * toMm * toMm;
    if (toMm == 1) {
        part.solid = document.body();
    } else {
        gp_Trsf scale;
        scale.SetScale(gp::Origin(), toMm);
        part.solid = BRepBuilderAPI_Transform(document.body(), scale, Standard_True).Shape();
    }
    return part;
}

} // namespace krepiks::drawing
