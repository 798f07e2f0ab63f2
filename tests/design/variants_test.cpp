// Choosing catalogue variants and adding new ones.
#include "design_session.h"

#include "catalogue/database.h"
#include "model/bolt.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTest>

using namespace krepiks;
using namespace krepiks::test;

namespace {

class VariantsTest : public DesignWindowTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English)); }
    void TearDown() override {
        DesignWindowTest::TearDown();
        QLocale::setDefault(QLocale::c());
    }

    void expectBolt(const std::vector<double>& values) {
        // d0 d1 d2 D R K L L2 L3 a b c S e
        const double actual[] = {Bolt.d0, Bolt.d1, Bolt.d2, Bolt.D, Bolt.R, Bolt.K, Bolt.L,
                                 Bolt.L2, Bolt.L3, Bolt.a,  Bolt.b, Bolt.c, Bolt.S, Bolt.e};
        ASSERT_EQ(values.size(), 14u);
        for (std::size_t i = 0; i < 14; ++i)
            EXPECT_DOUBLE_EQ(actual[i], values[i]) << "field " << i;
    }

    QString column(const QString& isp, const char* name) {
        return catalogue->scalar(QStringLiteral("select \"%1\" from \"Размеры\" where isp='%2'")
                                     .arg(QString::fromLatin1(name), isp));
    }
};

} // namespace

TEST(GeneratedVariantName, PadsToThreeDigitsOnly) {
    EXPECT_EQ(GeneratedVariantName(0), "001");
    EXPECT_EQ(GeneratedVariantName(8), "009");
    EXPECT_EQ(GeneratedVariantName(9), "010");
    EXPECT_EQ(GeneratedVariantName(98), "099");
    EXPECT_EQ(GeneratedVariantName(99), "100");
    EXPECT_EQ(GeneratedVariantName(999), "1000");
    EXPECT_EQ(GeneratedVariantName(12344), "12345");
}

TEST_F(VariantsTest, ChoosingLoadsAllFourteenDimensions) {
    start();
    chooseName("M8x50");
    expectBolt({6.9, 8, 5.6, 12.35, 0.4, 5.3, 50, 25, 5, 30, 45, 45, 13, 14.38});
    EXPECT_EQ(Bolt.isp, "M8x50");
    EXPECT_EQ(LastChosenName, "M8x50");
    EXPECT_EQ(boxTexts(), QStringList({"30", "0.4", "8", "6.9", "12.35", "5.3", "45", "25", "50",
                                       "45", "5.6", "5", "14.38", "13"}));
    EXPECT_TRUE(form()->Button2->isEnabled());
    for (int n = 1; n <= 14; ++n)
        EXPECT_FALSE(edit(n)->isEnabled()) << n;
    EXPECT_EQ(form()->ComboBox1->currentText(), "M8x50");
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(VariantsTest, ChoosingAgainReloadsFromTheCatalogue) {
    start();
    chooseName("M6x40");
    catalogue->exec("update \"Размеры\" set d0 = 5.5, S = -3, K = 0 where isp = 'M6x40'");
    chooseName("M6x40");
    EXPECT_DOUBLE_EQ(Bolt.d0, 5.5);
    EXPECT_DOUBLE_EQ(Bolt.S, -3);
    EXPECT_EQ(edit(14)->text(), "-3");
    EXPECT_EQ(edit(6)->text(), "0");
    EXPECT_TRUE(effects.boxes().empty()); // loaded values are not checked
}

TEST_F(VariantsTest, NamesWithQuotesLoadTheirOwnRowOnly) {
    start(TestCatalogue::Contents::Sample, [](TestCatalogue& c) {
        c.exec("insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) "
               "values ('M10 o''clock', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14), "
               "('x'' or ''1''=''1', 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34)");
    });
    QStringList statements;
    form()->ADOConnection1->onStatement = [&](const QString& s) { statements << s; };

    chooseName("M10 o'clock");
    EXPECT_TRUE(effects.boxes().empty());
    expectBolt({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
    EXPECT_EQ(Bolt.isp, "M10 o'clock");

    chooseName("x' or '1'='1");
    EXPECT_TRUE(effects.boxes().empty());
    expectBolt({21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34});
    EXPECT_EQ(LastChosenName, "x' or '1'='1");

    ASSERT_FALSE(statements.isEmpty());
    for (const QString& s : statements) {
        EXPECT_FALSE(s.contains("o'clock")) << s.toStdString();
        EXPECT_FALSE(s.contains("'1'")) << s.toStdString();
    }
    EXPECT_TRUE(statements.contains(QStringLiteral("select * from  Размеры where isp=?")));
}

TEST_F(VariantsTest, VanishedNameLoadsZerosSilently) {
    start();
    chooseName("M8x50");
    catalogue->exec("delete from \"Размеры\" where isp = 'M10x60'");
    chooseName("M10x60");
    expectBolt({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(boxTexts(), QStringList(14, "0"));
    EXPECT_EQ(Bolt.isp, "M10x60");
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(VariantsTest, TypingIntoTheListSnapsBack) {
    start();
    QComboBox* list = form()->ComboBox1;
    QTest::keyClicks(list, "M10");
    EXPECT_EQ(list->currentText(), QString());
    EXPECT_FALSE(form()->Button2->isEnabled());

    chooseName("M12x70");
    const TBolt loaded = Bolt;
    QTest::keyClick(list, Qt::Key_Backspace);
    QTest::keyClicks(list, "Z");
    EXPECT_EQ(list->currentText(), "M12x70");
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(list->currentText(), "M12x70");
    EXPECT_EQ(list->count(), 12); // nothing typed becomes an entry
    EXPECT_EQ(Bolt.d0, loaded.d0);
    EXPECT_EQ(Bolt.isp, "M12x70");
}

TEST_F(VariantsTest, NamesFollowTheRowCount) {
    start(TestCatalogue::Contents::EmptyTables);
    EXPECT_EQ(form()->ComboBox1->count(), 0);
    clickRadio(form()->RadioButton1);
    const auto insertRows = [&](int n) {
        catalogue->exec(QStringLiteral("insert into \"Размеры\" (isp) with recursive k(i) as "
                                       "(select 1 union all select i + 1 from k where i < %1) "
                                       "select 'filler' from k")
                            .arg(n));
    };
    const struct {
        int extraRows;
        const char* name;
    } steps[] = {{0, "001"}, {8, "010"}, {89, "100"}, {899, "1000"}};
    for (const auto& step : steps) {
        if (step.extraRows) {
            insertRows(step.extraRows);
            form()->Button1Click(); // the boxes are still filled
        } else {
            typeVariant();
        }
        EXPECT_EQ(Bolt.isp, step.name);
        EXPECT_EQ(catalogue->scalar(QStringLiteral("select count(*) from \"Размеры\" where "
                                                   "isp='%1'")
                                        .arg(QString::fromLatin1(step.name))),
                  "1")
            << step.name;
    }
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(VariantsTest, TwoAddsStoreTwoRowsWithConsecutiveNamesAndTheBoltValues) {
    start();
    clickRadio(form()->RadioButton1);
    typeVariant();
    click(form()->Button1);
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(catalogue->rowCount("Размеры"), 14);
    for (const char* name : {"013", "014"}) {
        const QString isp = QString::fromLatin1(name);
        EXPECT_EQ(column(isp, "d0"), "10.4");
        EXPECT_EQ(column(isp, "d1"), "12.0");
        EXPECT_EQ(column(isp, "d2"), "8.4");
        EXPECT_EQ(column(isp, "S"), "18.0");
        EXPECT_EQ(column(isp, "D"), "17.1");
        EXPECT_EQ(column(isp, "R"), "0.6");
        EXPECT_EQ(column(isp, "K"), "7.5");
        EXPECT_EQ(column(isp, "L"), "70.0");
        EXPECT_EQ(column(isp, "L2"), "35.0");
        EXPECT_EQ(column(isp, "L3"), "7.0");
        EXPECT_EQ(column(isp, "a"), "30.0");
        EXPECT_EQ(column(isp, "b"), "45.0");
        EXPECT_EQ(column(isp, "c"), "45.0");
        EXPECT_EQ(column(isp, "e"), "20.03");
    }
    // The window stays in new-variant mode with the typed values.
    EXPECT_TRUE(form()->RadioButton1->isChecked());
    EXPECT_EQ(edit(4)->text(), "10.4");
    EXPECT_EQ(listEntries().size(), 12); // the new names appear only after a refill
}

TEST_F(VariantsTest, EmptyBoxesStopTheAddInTheirOrder) {
    start();
    clickRadio(form()->RadioButton1);
    // Cleared without leaving them, so no check runs.
    for (int n : {1, 7, 10})
        edit(n)->setText(QString());
    const struct {
        int box;
        const char* message;
    } order[] = {{4, "d0"}, {3, "d1"}, {11, "d2"}, {14, "S"}, {2, "R"}, {6, "K"},
                 {9, "L"},  {1, "a"},  {7, "b"},   {10, "c"}, {13, "e"}};
    for (const auto& step : order) {
        effects.clear();
        form()->Button1Click();
        const auto boxes = effects.boxes();
        ASSERT_EQ(boxes.size(), 1u) << step.message;
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].text,
                  QStringLiteral("Вы не ввели размер %1!").arg(QString::fromLatin1(step.message)));
        EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
        EXPECT_EQ(boxes[0].buttons, BoxButtons::Ok);
        EXPECT_EQ(QApplication::focusWidget(), edit(step.box));
        EXPECT_EQ(catalogue->rowCount("Размеры"), 12);
        edit(step.box)->setText("1");
    }
    // Blanks are no number: the box counts as not filled.
    edit(13)->setText(" ");
    effects.clear();
    form()->Button1Click();
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_EQ(effects.boxes()[0].text, QStringLiteral("Вы не ввели размер e!"));
    EXPECT_EQ(catalogue->rowCount("Размеры"), 12);
    edit(13)->setText("1");
    effects.clear();
    form()->Button1Click();
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(catalogue->rowCount("Размеры"), 13);
}

// The stored row against the boxes: each column holds the number its box shows.
TEST_F(VariantsTest, TheStoredRowHoldsWhatTheBoxesShow) {
    start();
    chooseName("M8x50"); // the record holds this variant's values to begin with
    clickRadio(form()->RadioButton1);
    typeVariant();
    ASSERT_TRUE(effects.boxes().empty());
    ASSERT_EQ(catalogue->rowCount("Размеры"), 13);

    // Text dropped onto a box never passes the check of leaving it.
    dropText(edit(14), "abc");
    EXPECT_EQ(edit(14)->text(), "18abc");
    click(form()->Button1);
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_EQ(effects.boxes()[0].caption, "Error");
    EXPECT_EQ(effects.boxes()[0].text, QStringLiteral("Вы не ввели размер S!"));
    EXPECT_EQ(effects.boxes()[0].icon, BoxIcon::Error);
    EXPECT_EQ(QApplication::focusWidget(), edit(14));
    EXPECT_EQ(catalogue->rowCount("Размеры"), 13) << "nothing stored";

    // A number dropped in is stored as shown, with the lengths derived from it.
    effects.clear();
    typeInto(edit(14), "18");
    dropText(edit(9), "0");
    dropText(edit(3), "5");
    EXPECT_EQ(edit(9)->text(), "700");
    click(form()->Button1);
    EXPECT_TRUE(effects.boxes().empty());
    ASSERT_EQ(catalogue->rowCount("Размеры"), 14);
    EXPECT_EQ(Bolt.isp, "014");
    EXPECT_EQ(edit(8)->text(), "350");
    EXPECT_EQ(edit(12)->text(), "70");
    const struct {
        int box;
        const char* column;
    } shown[] = {{4, "d0"}, {3, "d1"},  {11, "d2"}, {5, "D"}, {2, "R"},  {6, "K"},  {9, "L"},
                 {8, "L2"}, {12, "L3"}, {1, "a"},   {7, "b"}, {10, "c"}, {14, "S"}, {13, "e"}};
    for (const auto& s : shown)
        EXPECT_EQ(column("014", s.column).toDouble(), edit(s.box)->text().toDouble()) << s.column;
    EXPECT_EQ(column("014", "d1"), "125.0");
}

TEST_F(VariantsTest, NamesSkipThoseAlreadyInTheCatalogue) {
    start();
    clickRadio(form()->RadioButton1);
    typeVariant();
    click(form()->Button1);
    click(form()->Button1);
    ASSERT_EQ(Bolt.isp, "015");
    // Deleted in the table window, the count falls behind the names in use.
    catalogue->exec("delete from \"Размеры\" where isp = '013'");
    click(form()->Button1);
    EXPECT_EQ(Bolt.isp, "016");
    // Renamed by hand to a name still ahead of the count.
    catalogue->exec("update \"Размеры\" set isp = '017' where isp = 'M6x40'");
    click(form()->Button1);
    EXPECT_EQ(Bolt.isp, "018");
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(catalogue->scalar("select count(*) - count(distinct isp) from \"Размеры\""), "0");

    // Each name in the list (in id order) is its own variant.
    clickRadio(form()->RadioButton2);
    EXPECT_EQ(listEntries().filter(QRegularExpression("^0\\d\\d$")),
              QStringList({"017", "014", "015", "016", "018"}));
    chooseName("016");
    EXPECT_EQ(Bolt.d0, 10.4);
}

TEST_F(VariantsTest, InterruptedAddStoresNothing) {
    start();
    clickRadio(form()->RadioButton1);
    click(form()->Button1); // straight after starting: only the angles are filled
    const auto boxes = effects.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Вы не ввели размер d0!"));
    EXPECT_EQ(QApplication::focusWidget(), edit(4));
    EXPECT_EQ(Bolt.isp, "013");
    EXPECT_EQ(catalogue->rowCount("Размеры"), 12);

    // The unposted row is dropped when the query is next closed; the next add is alone.
    effects.clear();
    typeVariant();
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(catalogue->rowCount("Размеры"), 13);
    EXPECT_EQ(catalogue->scalar("select count(*) from \"Размеры\" where isp='013'"), "1");
}

TEST_F(VariantsTest, NegativeValueLeftInTheRecordIsStored) {
    start();
    clickRadio(form()->RadioButton1);
    for (int n : {4, 3, 11, 14, 6, 9, 13})
        typeInto(edit(n), "5");
    typeInto(edit(2), "-2");
    QTest::keyClick(edit(2), Qt::Key_Tab);
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_EQ(Bolt.R, -2);
    form()->Button1Click();
    EXPECT_EQ(column("013", "R"), "-2.0");
}
