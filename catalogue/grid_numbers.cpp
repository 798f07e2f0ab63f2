#include "catalogue/grid_numbers.h"

#include <cmath>

namespace krepiks {

QLocale GridNumberLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

QString GridNumberText(double value) {
    // As the design window shows them, not in the locale's lower case.
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0");
    const QLocale locale = GridNumberLocale();
    QString text = locale.toString(value, 'g', 15);
    const int e = text.indexOf(locale.exponential(), 0, Qt::CaseInsensitive);
    if (e < 0)
        return text;
    QString exponent = text.mid(e + locale.exponential().size());
    bool negative = false;
    if (exponent.startsWith(locale.negativeSign())) {
        negative = true;
        exponent.remove(0, locale.negativeSign().size());
    } else if (exponent.startsWith(locale.positiveSign())) {
        exponent.remove(0, locale.positiveSign().size());
    }
    while (exponent.size() > 1 && exponent.front() == locale.zeroDigit().front())
        exponent.remove(0, 1);
    return text.left(e) + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString()) +
           exponent;
}

} // namespace krepiks
