#pragma once
// The bolt's drawing on one sheet: the solid the build makes, its two views and fourteen
// dimensions at the largest standard scale that fits, the frame and the title block.
#include "drawing/drafting_numbers.h"
#include "drawing/part_build.h"
#include "drawing/sheet.h"
#include "model/bolt.h"

#include <string>

namespace krepiks::drawing {

struct DrawingRequest {
    TBolt bolt;              // the variant, its template path included
    std::string designation; // the variant's isp when empty
    std::string material;
    double density = 7.85; // g/cm³, steel's
    std::string author;
    std::string date;
};

struct BoltDrawing {
    Sheet sheet;
    std::string error; // why there is no drawing
    double volume = 0; // of the solid, mm³
    double mass = 0;   // kg
    Scale scale;
};

// Needs a QGuiApplication (the drafting font).
BoltDrawing MakeBoltDrawing(const DrawingRequest& request);

// The same of a part already built, request.bolt being what it was built from.
BoltDrawing DrawBuiltPart(const DrawingRequest& request, const BuiltPart& part);

} // namespace krepiks::drawing
