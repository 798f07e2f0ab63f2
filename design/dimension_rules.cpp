#include "design/dimension_rules.h"

#include <QLocale>
#include <charconv>
#include <string>

namespace krepiks {

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

std::optional<double> ParseDimension(const QString& text, const QString& decimalPoint) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;

    // Rebuilt in the C form that from_chars reads: no leading '+', '.' as separator.
    std::string plain;
    bool negative = false;
    qsizetype i = begin;
    if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (negative)
        plain += '-';

    std::string intDigits;
    std::string fracDigits;
    bool separatorSeen = false;
    while (i < end) {
        if (isDigit(text[i])) {
            (separatorSeen ? fracDigits : intDigits) += char(text[i].unicode());
            ++i;
        } else if (!separatorSeen && !decimalPoint.isEmpty() &&
                   QStringView(text).mid(i, end - i).startsWith(decimalPoint)) {
            separatorSeen = true;
            i += decimalPoint.size();
        } else {
            break;
        }
    }
    if (intDigits.empty() && fracDigits.empty())
        return std::nullopt;
    plain += intDigits.empty() ? std::string("0") : intDigits;
    if (!fracDigits.empty())
        plain += '.' + fracDigits;

    long long exponent = 0;
    if (i < end && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        bool expNegative = false;
        if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            expNegative = text[i] == QLatin1Char('-');
            ++i;
        }
        std::string expDigits;
        while (i < end && isDigit(text[i])) {
            expDigits += char(text[i].unicode());
            // Saturate: anything this far out is beyond every double anyway.
            if (exponent < 1000000)
                exponent = exponent * 10 + (text[i].unicode() - u'0');
            ++i;
        }
        if (expDigits.empty())
            return std::nullopt;
        if (expNegative)
            exponent = -exponent;
        plain += 'e' + std::to_string(exponent);
    }
    if (i != end)
        return std::nullopt;

    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Tell overflow from underflow by the decimal magnitude of the leading digit.
        const std::string all = intDigits + fracDigits;
        const std::size_t firstNonZero = all.find_first_not_of('0');
        const long long magnitude = static_cast<long long>(intDigits.size()) -
                                    static_cast<long long>(firstNonZero) + exponent;
        if (magnitude > 0)
            return std::nullopt;
        return negative ? -0.0 : 0.0;
    }
    if (ec != std::errc() || ptr != plain.data() + plain.size())
        return std::nullopt;
    return value;
}

std::optional<double> ParseDimension(const QString& text) {
    return ParseDimension(text, QLocale().decimalPoint());
}

QString DimensionProblem(double value) {
    // Separate tests: -0 is not below zero, so it only gets the zero message.
    if (value < 0)
        return QStringLiteral("Параметр не может быть отрицательным!");
    if (value == 0)
        return QStringLiteral("Нуль недопустим!");
    return {};
}

} // namespace krepiks
