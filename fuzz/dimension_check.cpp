#include "dimension_check.h"

#include "design/dimension_rules.h"

#include <QLocale>
#include <QString>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <regex>

namespace krepiks::fuzz {

namespace {

// Longer texts say nothing new about the shape and make the oracle's regex slow.
constexpr std::size_t MaxText = 300;

// The accepted shape, written out once more: blanks, a sign, digits with at most one
// separator (at least one digit somewhere), an exponent with at least one digit, blanks.
std::optional<double> Oracle(const std::string& utf8, char separator) {
    static const std::regex point(R"(^ *([+-]?)((\d*)\.?(\d*))([eE][+-]?\d+)? *$)");
    static const std::regex comma(R"(^ *([+-]?)((\d*),?(\d*))([eE][+-]?\d+)? *$)");
    std::smatch m;
    if (!std::regex_match(utf8, m, separator == '.' ? point : comma))
        return std::nullopt;
    if (m[3].length() == 0 && m[4].length() == 0)
        return std::nullopt; // no digit at all
    // The same number in the C form strtod reads.
    std::string c = m[1].str() + (m[3].length() ? m[3].str() : "0");
    if (m[4].length())
        c += "." + m[4].str();
    c += m[5].str();
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(c.c_str(), &end);
    if (end != c.c_str() + c.size())
        return std::nullopt;
    if (std::isinf(value))
        return std::nullopt; // beyond every double
    return value;            // below the smallest one: zero of its sign, as strtod rounds it
}

std::string Describe(const std::optional<double>& v) {
    if (!v)
        return "no number";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", *v);
    return buffer;
}

bool Same(const std::optional<double>& a, const std::optional<double>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || (*a == *b && std::signbit(*a) == std::signbit(*b));
}

} // namespace

std::string CheckDimensionInput(const uint8_t* data, std::size_t size) {
    if (size == 0 || size - 1 > MaxText)
        return {};
    const bool useComma = data[0] & 1;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    // The oracle sees the text the box would hold (invalid UTF-8 already replaced).
    const std::string utf8 = text.toStdString();
    const char separator = useComma ? ',' : '.';
    const std::optional<double> expected = Oracle(utf8, separator);

    const std::optional<double> explicitly = ParseDimension(text, QString(QLatin1Char(separator)));
    if (!Same(explicitly, expected))
        return "'" + utf8 + "' with '" + separator + "': read " + Describe(explicitly) +
               ", expected " + Describe(expected);

    static const QLocale point(QLocale::English, QLocale::UnitedStates);
    static const QLocale comma(QLocale::Russian, QLocale::Russia);
    QLocale::setDefault(useComma ? comma : point);
    const std::optional<double> regional = ParseDimension(text);
    if (!Same(regional, expected))
        return "'" + utf8 + "' in the " + (useComma ? "comma" : "point") + " locale: read " +
               Describe(regional) + ", expected " + Describe(expected);
    return {};
}

} // namespace krepiks::fuzz
