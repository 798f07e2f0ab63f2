// Writing numbers into the boxes and reading typed ones, under point and comma locales.
#include "design/number_format.h"
#include "design/read_dimension.h"

#include <QLocale>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace krepiks;

namespace {

class LocaleScope {
public:
    explicit LocaleScope(QLocale::Language language) { QLocale::setDefault(QLocale(language)); }
    ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
};

} // namespace

TEST(FormatNumber, ShortestFormWithoutTrailingZeros) {
    LocaleScope english(QLocale::English);
    EXPECT_EQ(FormatNumber(0.0), "0");
    EXPECT_EQ(FormatNumber(-0.0), "0");
    EXPECT_EQ(FormatNumber(19.0), "19");
    EXPECT_EQ(FormatNumber(0.95 * 20), "19");
    EXPECT_EQ(FormatNumber(12.35), "12.35");
    EXPECT_EQ(FormatNumber(-2.5), "-2.5");
    EXPECT_EQ(FormatNumber(100.0), "100");
    EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatNumber(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FormatNumber(2.0 / 3.0), "0.666666666666667");
    EXPECT_EQ(FormatNumber(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatNumber(1234567.891011121314), "1234567.89101112");
}

TEST(FormatNumber, ExponentOnlyForVeryLargeAndVerySmallMagnitudes) {
    LocaleScope english(QLocale::English);
    EXPECT_EQ(FormatNumber(999999999999999.0), "999999999999999");
    EXPECT_EQ(FormatNumber(1e15), "1E15");
    // Rounds up to 16 integer digits, so it switches to the exponent form.
    EXPECT_EQ(FormatNumber(9999999999999999.0), "1E16");
    EXPECT_EQ(FormatNumber(1.5e20), "1.5E20");
    EXPECT_EQ(FormatNumber(0.0001), "0.0001");
    EXPECT_EQ(FormatNumber(0.00012), "0.00012");
    EXPECT_EQ(FormatNumber(0.00001), "1E-5");
    EXPECT_EQ(FormatNumber(-1.25e-7), "-1.25E-7");
    EXPECT_EQ(FormatNumber(std::numeric_limits<double>::max()), "1.79769313486232E308");
    EXPECT_EQ(FormatNumber(std::numeric_limits<double>::infinity()), "INF");
}

TEST(FormatNumber, UsesTheRegionalSeparator) {
    LocaleScope russian(QLocale::Russian);
    EXPECT_EQ(FormatNumber(12.35), "12,35");
    EXPECT_EQ(FormatNumber(0.0001), "0,0001");
    EXPECT_EQ(FormatNumber(1.5e-5), "1,5E-5");
    EXPECT_EQ(FormatNumber(1234567.0), "1234567"); // never a group separator
    EXPECT_EQ(FormatNumber(12.35, QStringLiteral(".")), "12.35");
}

TEST(ParseDimension, AcceptedShapesUnderPointLocale) {
    LocaleScope english(QLocale::English);
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"20", 20},        {"  20  ", 20}, {"+20", 20},          {"-20", -20},  {"12.5", 12.5},
        {"5.", 5},         {".5", 0.5},    {"-.5", -0.5},        {"1e3", 1000}, {"1E3", 1000},
        {"1.5e-2", 0.015}, {"2E+2", 200},  {" -3.25E1 ", -32.5}, {"007", 7},    {"0", 0},
    };
    for (const auto& c : cases) {
        const auto value = ParseDimension(QString::fromLatin1(c.text));
        ASSERT_TRUE(value.has_value()) << c.text;
        EXPECT_DOUBLE_EQ(*value, c.value) << c.text;
    }
}

TEST(ParseDimension, RejectedShapesUnderPointLocale) {
    LocaleScope english(QLocale::English);
    const char* rejected[] = {"",    " ",     "abc",     "1,5", "1,000", "1.2.3", ".",
                              "-",   "+",     "--5",     "+-5", "5-",    "1e",    "1e+",
                              "e5",  "1e5.5", "inf",     "nan", "0x10",  "1 000", "5 mm",
                              "\t5", "5\t",   "1,000.5", "1d5", "١٢"};
    for (const char* text : rejected)
        EXPECT_FALSE(ParseDimension(QString::fromUtf8(text)).has_value()) << text;
}

TEST(ParseDimension, CommaLocaleTakesCommaAndRefusesPoint) {
    LocaleScope russian(QLocale::Russian);
    EXPECT_DOUBLE_EQ(*ParseDimension(QStringLiteral("12,5")), 12.5);
    EXPECT_DOUBLE_EQ(*ParseDimension(QStringLiteral(",5")), 0.5);
    EXPECT_DOUBLE_EQ(*ParseDimension(QStringLiteral("5,")), 5.0);
    EXPECT_DOUBLE_EQ(*ParseDimension(QStringLiteral("-1,5E2")), -150.0);
    EXPECT_FALSE(ParseDimension(QStringLiteral("12.5")).has_value());
    EXPECT_FALSE(ParseDimension(QStringLiteral("1\u00a0000")).has_value());
    EXPECT_FALSE(ParseDimension(QStringLiteral("1,2,3")).has_value());
}

TEST(ParseDimension, RangeLimits) {
    LocaleScope english(QLocale::English);
    // Beyond the double range is no number at all.
    EXPECT_FALSE(ParseDimension(QStringLiteral("1e309")).has_value());
    EXPECT_FALSE(ParseDimension(QStringLiteral("-1e309")).has_value());
    EXPECT_FALSE(ParseDimension(QStringLiteral("1e99999999999999999999")).has_value());
    EXPECT_FALSE(ParseDimension(QStringLiteral("0.001e312")).has_value());
    EXPECT_DOUBLE_EQ(*ParseDimension(QStringLiteral("1.7976931348623157e308")),
                     std::numeric_limits<double>::max());
    // Too small to hold reads as zero of its sign.
    const auto tiny = ParseDimension(QStringLiteral("1e-400"));
    ASSERT_TRUE(tiny.has_value());
    EXPECT_EQ(*tiny, 0.0);
    EXPECT_FALSE(std::signbit(*tiny));
    const auto negativeTiny = ParseDimension(QStringLiteral("-1000e-402"));
    ASSERT_TRUE(negativeTiny.has_value());
    EXPECT_EQ(*negativeTiny, 0.0);
    EXPECT_TRUE(std::signbit(*negativeTiny));
    // Negative zero is kept as such; the check treats it as zero.
    const auto minusZero = ParseDimension(QStringLiteral("-0"));
    ASSERT_TRUE(minusZero.has_value());
    EXPECT_TRUE(std::signbit(*minusZero));
}
