#pragma once
// Numbers as the table window's grid shows and takes them: the regional decimal separator,
// no group separators.
#include <QLocale>
#include <QString>

namespace krepiks {

// The locale numbers are typed in.
QLocale GridNumberLocale();

// General format, 15 significant digits, regional separator; exponents as "1E15", "5E-5".
QString GridNumberText(double value);

} // namespace krepiks
