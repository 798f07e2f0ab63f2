// The part template format.
#include "cad/part_template.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace krepiks::cad;

TEST(Template, TheShippedTemplateHasTheThreeUsualPlanes) {
    std::string error;
    const auto t = LoadPartTemplate(KREPIKS_PART_TEMPLATE, &error);
    ASSERT_TRUE(t) << error;
    EXPECT_EQ(t->unit, "mm");
    EXPECT_DOUBLE_EQ(t->unitsPerMetre, 1000);
    ASSERT_EQ(t->planes.size(), 3u);
    EXPECT_EQ(t->planes[0].name, "Спереди");
    EXPECT_EQ(t->planes[1].name, "Сверху");
    EXPECT_EQ(t->planes[2].name, "Справа");
    // "Сверху" looks down +y with its sketch x along the part's x, as the chamfer needs.
    EXPECT_DOUBLE_EQ(t->planes[1].normal.y, 1);
    EXPECT_DOUBLE_EQ(t->planes[1].xDir.x, 1);
}

TEST(Template, StatementsUnitsAndNormalisation) {
    const auto t = ParsePartTemplate("# comment\n\n  krepiks-part 1  # trailing\r\nunit in\n"
                                     "plane \"A b\" xdir 0 0 2 origin 1 2 3 normal -4 0 0\n");
    ASSERT_TRUE(t);
    EXPECT_NEAR(t->unitsPerMetre, 39.37007874, 1e-8);
    ASSERT_EQ(t->planes.size(), 1u);
    EXPECT_EQ(t->planes[0].name, "A b");
    EXPECT_DOUBLE_EQ(t->planes[0].normal.x, -1);
    EXPECT_DOUBLE_EQ(t->planes[0].xDir.z, 1);
    EXPECT_DOUBLE_EQ(t->planes[0].origin.z, 3);
}

TEST(Template, MalformedTextIsRefusedWithTheLine) {
    const std::string head = "krepiks-part 1\nunit mm\n";
    const std::string plane = "plane \"P\" origin 0 0 0 normal 0 0 1 xdir 1 0 0\n";
    const struct {
        std::string text;
        std::string why;
    } cases[] = {
        {"", "empty"},
        {"krepiks-part 2\n", "line 1"},
        {"unit mm\n" + plane, "line 1"},
        {"krepiks-part 1\n" + plane, "no unit"},
        {head, "no reference plane"},
        {head + "unit mm\n" + plane, "line 3"},
        {head + "unit furlong\n", "line 3"},
        {head + plane + plane, "twice"},
        {head + "plane \"P\" origin 0 0 0 normal 0 0 1 xdir 1 0 1\n", "perpendicular"},
        {head + "plane \"P\" origin 0 0 0 normal 0 0 0 xdir 1 0 0\n", "zero"},
        {head + "plane \"P\" origin 0 0 x normal 0 0 1 xdir 1 0 0\n", "bad number"},
        {head + "plane \"P\" origin 0 0 1e999 normal 0 0 1 xdir 1 0 0\n", "bad number"},
        {head + "plane \"P\" origin 0 0 0 origin 0 0 1 xdir 1 0 0\n", "once"},
        {head + "plane \"P origin 0 0 0 normal 0 0 1 xdir 1 0 0\n", "unterminated"},
        {head + "plane \"\" origin 0 0 0 normal 0 0 1 xdir 1 0 0\n", "name"},
        {head + "plane P origin 0 0 0 normal 0 0 1 xdir 1 0 0\n", "plane is"},
        {head + "sphere \"S\"\n", "unknown statement"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParsePartTemplate(c.text, &error)) << c.text;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.text << " → " << error;
    }
}

TEST(Template, FilesThatCannotBeRead) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "krepiks_template_test";
    fs::create_directories(dir);
    std::string error;
    EXPECT_FALSE(LoadPartTemplate((dir / "missing.kprt").string(), &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_FALSE(LoadPartTemplate(dir.string(), &error)) << "a folder";
    EXPECT_FALSE(LoadPartTemplate("", &error));
    {
        std::ofstream big(dir / "big.kprt");
        big << "krepiks-part 1\nunit mm\n" << std::string(2 << 20, '#');
    }
    EXPECT_FALSE(LoadPartTemplate((dir / "big.kprt").string(), &error));
    EXPECT_NE(error.find("too large"), std::string::npos);
    fs::remove_all(dir);
}
