#pragma once
// The drafting font: Debian's osifont (ISO 3098, with Cyrillic and the diameter sign),
// loaded once a QGuiApplication exists.
#include "drawing/title_block.h"

#include <QFont>
#include <string>

namespace krepiks::drawing {

// Empty when the font is ready, else why it is not.
std::string LoadDraftingFont();

// The font at its reference size (an em of ReferenceEm pixels).
inline constexpr int ReferenceEm = 100;
QFont DraftingFont();

// The em of the font whose capitals are capHeight high.
double EmForCapHeight(double capHeight);

// Widths of texts in millimetres, for the layout.
TextMeasure DraftingMeasure();

} // namespace krepiks::drawing
