#pragma once
// Reading a typed dimension box: the check that warns about text that is no number,
// negative numbers and zero, by the rules of dimension_rules.h.
#include "design/dimension_rules.h"

class QLineEdit;

namespace krepiks {

// Reads box. Text that is no number, a negative number and zero each give a beep, their
// message captioned with the application title and the focus back in box. Returns no
// value only for text that is no number; negative numbers and zero are returned as read.
std::optional<double> ReadDimension(QLineEdit* box);

} // namespace krepiks
