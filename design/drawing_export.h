#pragma once
// The design window's «Сохранить чертёж…»: asks where and what for the title block, then has
// krepiks-catalogue, which holds the geometry, make the drawing of the variant on the screen.
#include "model/bolt.h"

class QWidget;

namespace krepiks {

// Throws krepiks::Exception with the drawing program's reason when no drawing was made.
void SaveBoltDrawing(QWidget* parent, const TBolt& bolt);

} // namespace krepiks
