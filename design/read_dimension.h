#pragma once
// Reading a typed dimension: the number shape accepted from the boxes, and the check that
// warns about text that is no number, negative numbers and zero.
#include <QString>
#include <optional>

class QLineEdit;

namespace krepiks {

// The whole text as a number: blanks around it, an optional sign, digits with at most one
// decimalPoint, an optional exponent (E or e, optional sign, digits). No thousands
// separators, no other separator, no "inf"/"nan"/hex. A number too large for a double is
// no number; one too small for it reads as zero of its sign.
std::optional<double> ParseDimension(const QString& text, const QString& decimalPoint);

// As above with the decimal separator of the current default locale.
std::optional<double> ParseDimension(const QString& text);

// Reads box. Text that is no number, a negative number and zero each give a beep, their
// message captioned with the application title and the focus back in box. Returns no
// value only for text that is no number; negative numbers and zero are returned as read.
std::optional<double> ReadDimension(QLineEdit* box);

} // namespace krepiks
