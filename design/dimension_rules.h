#pragma once
// The rules a dimension's text and value must meet: shared by the design window's boxes and
// by the tools that bring variants in from elsewhere. Qt Core only, no window toolkit.
#include <QString>
#include <optional>

namespace krepiks {

// The whole text as a number: blanks around it, an optional sign, digits with at most one
// decimalPoint, an optional exponent (E or e, optional sign, digits). No thousands
// separators, no other separator, no "inf"/"nan"/hex. A number too large for a double is
// no number; one too small for it reads as zero of its sign.
std::optional<double> ParseDimension(const QString& text, const QString& decimalPoint);

// As above with the decimal separator of the current default locale.
std::optional<double> ParseDimension(const QString& text);

// What the design window says of a text that is no number.
inline QString NotANumberMessage() {
    return QStringLiteral("Ошибка ввода данных!");
}

// What the design window says of a number read from a box: a negative number or zero (of
// either sign) has its message; empty for a number it takes without a word.
QString DimensionProblem(double value);

} // namespace krepiks
