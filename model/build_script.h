#pragma once
// The fixed script that turns a new part document into the bolt: revolved shank, extruded
// hexagon head, reference axis, revolved chamfer cut and zoom to fit, with two series of small
// view rotations between them.
#include "model/bolt.h"
#include "model/ole_call.h"

#include <span>

namespace krepiks {

// The six kinds of view rotation. A zero angle is sent as the integer 0, any other as a double.
enum class Rotation { Y1, Y2, X1, X2, XY, X3 };

struct RotationAngles {
    double first;
    double second;
};
const RotationAngles& AnglesOf(Rotation kind);

// A kind repeated count times in a row.
struct RotationRun {
    Rotation kind;
    int count;
};
// The rotations after the body revolve (33) and after sketch 3 (100), in order.
std::span<const RotationRun> RotationSeriesA();
std::span<const RotationRun> RotationSeriesB();

// Runs the script on part, which NewDocument returned; view holds the part's first
// ActiveView and is fetched again before every rotation. The sketch-1 lines pass references
// into bolt.Points, which must already hold the derived profile in metres. Every reference
// fetched here is released when the script ends or fails; the first failing call ends it.
void RunBuildScript(const OleVariant& part, OleVariant& view, TBolt& bolt);

} // namespace krepiks
