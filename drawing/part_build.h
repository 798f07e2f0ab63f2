#pragma once
// The bolt's solid made by the program's own build, the same calls a build in the design
// window sends, answered in this process by the CAD stand-in.
#include "cad/part_document.h"
#include "model/bolt.h"

#include <TopoDS_Shape.hxx>
#include <string>

namespace krepiks::drawing {

struct BuiltPart {
    TopoDS_Shape solid;  // in millimetres; null when the build made none
    double volume = 0;   // cubic millimetres
    std::string refusal; // why there is no solid, in the CAD program's words
};

BuiltPart BuildPart(TBolt bolt);

// The solid a finished build left in the document, in millimetres whatever the template's
// unit, or why there is none.
BuiltPart PartOf(const cad::PartDocument& document);

} // namespace krepiks::drawing
