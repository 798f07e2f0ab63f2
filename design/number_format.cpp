#include "design/number_format.h"

#include <QLocale>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace krepiks {

namespace {

constexpr int Precision = 15;

} // namespace

QString FormatNumber(double value, const QString& decimalPoint) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0");

    // Round to the precision first; the choice of notation depends on the rounded value.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::scientific, Precision - 1);
    const std::string text(buffer, result.ptr);
    const std::size_t ePos = text.find('e');
    const bool negative = text.front() == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < ePos; ++i)
        if (text[i] != '.')
            digits += text[i];
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int exponent = std::atoi(text.c_str() + ePos + 1);

    QString out = negative ? QStringLiteral("-") : QString();
    const QString sep = decimalPoint;
    // Digits before the separator in fixed notation.
    const int intDigits = exponent + 1;
    if (intDigits > Precision || intDigits < -3) {
        out += QLatin1Char(digits[0]);
        if (digits.size() > 1)
            out += sep + QString::fromLatin1(digits.data() + 1, int(digits.size()) - 1);
        out += QLatin1Char('E');
        if (exponent < 0)
            out += QLatin1Char('-');
        out += QString::number(std::abs(exponent));
        return out;
    }
    if (intDigits <= 0) {
        out += QLatin1Char('0') + sep + QString(-intDigits, QLatin1Char('0')) +
               QString::fromLatin1(digits.data(), int(digits.size()));
        return out;
    }
    const QString all = QString::fromLatin1(digits.data(), int(digits.size()));
    if (all.size() <= intDigits)
        return out + all + QString(intDigits - all.size(), QLatin1Char('0'));
    return out + all.left(intDigits) + sep + all.mid(intDigits);
}

QString FormatNumber(double value) {
    return FormatNumber(value, QLocale().decimalPoint());
}

} // namespace krepiks
