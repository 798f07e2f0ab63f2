#pragma once
// How a dimension is written into a box: general format, at most 15 significant digits,
// regional decimal separator.
#include <QString>

namespace krepiks {

// The shortest text with at most 15 significant digits; exponent notation ("1E15",
// "1,5E-5") only when the decimal exponent is above 15 digits or below 0.0001. Zero of
// either sign is "0".
QString FormatNumber(double value, const QString& decimalPoint);

// As above, with the decimal separator of the current default locale.
QString FormatNumber(double value);

} // namespace krepiks
