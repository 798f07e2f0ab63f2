// Catalogue rows holding what no typed variant would: no values, text, NaN and infinities.
#include "catalogue/database.h"
#include "catalogue/table_query.h"
#include "catalogue/unit2.h"
#include "design_session.h"
#include "model/bolt.h"
#include "model/solidworks.h"
#include "platform/exception.h"
// Last: OpenCASCADE defines a Handle macro that the catalogue's engine headers would meet.
#include "cad/cad_server.h"

#include <QApplication>
#include <QTest>
#include <cmath>

using namespace krepiks;
using namespace krepiks::test;

namespace {

class OddRows : public DesignWindowTest {
protected:
    void SetUp() override {
        start(TestCatalogue::Contents::Sample, [](TestCatalogue& c) {
            c.exec("insert into \"Размеры\" (isp) values ('nothing')");
            // A REAL column keeps text that is no number as text, and 1e999 as infinity.
            c.exec("insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) "
                   "values ('odd', 'NaN', 1e999, '-Infinity', ' 12.5 ', 'inf', 4, 40, 20, 4, "
                   "30, 45, 45, 10, 11)");
            c.exec("insert into \"Размеры\" (isp, d0, d1, d2) values ('words', 6, 'six', 4)");
        });
    }
};

} // namespace

TEST_F(OddRows, NoValuesReadAsZero) {
    chooseName("M6x40");
    chooseName("nothing");
    EXPECT_TRUE(effects.boxes().empty());
    for (int n = 1; n <= 14; ++n)
        EXPECT_EQ(edit(n)->text(), "0") << "Edit" << n;
    EXPECT_EQ(Bolt.d0, 0.0);
    EXPECT_EQ(Bolt.e, 0.0);
    EXPECT_EQ(Bolt.isp, "nothing");
}

TEST_F(OddRows, NotANumberAndInfinitiesLoadAsTheyAre) {
    chooseName("odd");
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(edit(4)->text(), "NAN");
    EXPECT_TRUE(std::isnan(Bolt.d0));
    EXPECT_EQ(edit(3)->text(), "INF");
    EXPECT_EQ(Bolt.d1, HUGE_VAL);
    EXPECT_EQ(edit(11)->text(), "-INF");
    EXPECT_EQ(Bolt.d2, -HUGE_VAL);
    EXPECT_EQ(edit(5)->text(), "12.5") << "stored as the number it spells";
    EXPECT_EQ(edit(2)->text(), "INF");
    EXPECT_EQ(edit(9)->text(), "40");
    EXPECT_TRUE(form()->Button2->isEnabled());
}

TEST_F(OddRows, TextThatIsNoNumberStopsTheLoadWithTheConversionError) {
    chooseName("M8x50");
    chooseName("words");
    const auto boxes = effects.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Крепикс");
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes[0].text, "Could not convert variant of type (String) into type (Double)");
    // The load stopped at d1: d0 is the new row's, the rest are still the previous variant's.
    EXPECT_EQ(edit(4)->text(), "6");
    EXPECT_EQ(Bolt.d0, 6.0);
    EXPECT_EQ(edit(3)->text(), "8");
    EXPECT_EQ(Bolt.d1, 8.0);
    EXPECT_EQ(Bolt.isp, "words");
    EXPECT_TRUE(form()->Button2->isEnabled());
    // The window goes on: another choice loads as usual.
    chooseName("M6x40");
    EXPECT_EQ(edit(3)->text(), "6");
    EXPECT_EQ(effects.boxes().size(), 1u);
}

TEST_F(OddRows, BuildingAVariantWithNoFiniteValueEndsInTheReportOfTheCadError) {
    cad::RegisterCadServer();
    enter(form()->Edit15, QStringLiteral(KREPIKS_PART_TEMPLATE));
    chooseName("odd");
    click(form()->Button2);
    const auto boxes = effects.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Крепикс");
    EXPECT_EQ(boxes[0].text, "Out of present range.");
    EXPECT_FALSE(effects.waitCursorShown());
    EXPECT_FALSE(form()->Button3->isEnabled());
    // A sound variant builds afterwards.
    chooseName("M8x50");
    click(form()->Button2);
    EXPECT_EQ(effects.boxes().size(), 1u);
    EXPECT_TRUE(form()->Button3->isEnabled());
    ReleaseSolidWorks();
    if (auto running = cad::RunningCadSession())
        running->quit();
    cad::UnregisterCadServer();
}

TEST_F(OddRows, TheTableWindowShowsOddRowsAsTheyAre) {
    Form2->show();
    Form2->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form2, 60000));
    TTableQuery* query = Form2->ADOQuery1;
    ASSERT_EQ(query->rowCount(), 15);
    const auto cell = [&](int row, int column) {
        return query->data(query->index(row, column)).toString();
    };
    EXPECT_EQ(cell(12, 2), "");
    EXPECT_EQ(cell(13, 2), "NAN");
    EXPECT_EQ(cell(13, 3), "INF");
    EXPECT_EQ(cell(13, 4), "-Infinity") << "text that Qt reads as no number shows as text";
    EXPECT_EQ(cell(13, 5), "12.5");
    EXPECT_EQ(cell(14, 3), "six");
    EXPECT_TRUE(effects.boxes().empty());
    Form2->close();
}

TEST(OddText, TextInAColumnWithoutATypeReadsAsTheNumberItSpells) {
    TestCatalogue folder;
    folder.exec("create table loose (id integer primary key, v)");
    folder.exec("insert into loose (v) values ('12.5'), (' -3e2 '), ('Infinity'), "
                "('-infinity'), ('nan'), ('1,5'), (x'00ff')");
    TADOConnection connection;
    TADOQuery query(&connection);
    query.Issue("select * from loose order by id");
    const auto next = [&] {
        const double v = query.FieldAsFloat("v");
        query.Next();
        return v;
    };
    EXPECT_EQ(next(), 12.5);
    EXPECT_EQ(next(), -300.0);
    EXPECT_EQ(next(), HUGE_VAL);
    EXPECT_EQ(next(), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(next()));
    // A comma is no decimal separator in the file, whatever the regional settings say.
    EXPECT_THROW(next(), EDatabaseError);
    query.Next();
    EXPECT_THROW(next(), EDatabaseError) << "a blob is no number";
}
