// Leaving a typed dimension box: the checks, the stored value and the derived boxes.
#include "design_session.h"

#include "model/bolt.h"
#include "shell/application.h"

#include <QLocale>
#include <QTest>
#include <cmath>

using namespace krepiks;
using namespace krepiks::test;

namespace {

class ValidationTest : public DesignWindowTest {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English));
        start();
        // A loaded variant first, so that every field holds a known value.
        chooseName("M8x50");
        clickRadio(form()->RadioButton1);
        ASSERT_TRUE(form()->RadioButton1->isChecked());
        effects.clear();
    }
    void TearDown() override {
        DesignWindowTest::TearDown();
        QLocale::setDefault(QLocale::c());
    }

    // The one message shown since the last clear, after its beep, with the focus put back.
    void expectWarning(QLineEdit* box, const QString& text) {
        const auto& events = effects.events;
        ASSERT_EQ(effects.boxes().size(), 1u) << text.toStdString();
        std::size_t at = 0;
        while (events[at].kind != Kind::Box)
            ++at;
        ASSERT_GT(at, 0u);
        EXPECT_EQ(events[at - 1].kind, Kind::Beep);
        EXPECT_EQ(effects.count(Kind::Beep), 1);
        const MessageBoxRequest& shown = events[at].box;
        EXPECT_EQ(shown.caption, ApplicationTitle);
        EXPECT_EQ(shown.text, text);
        EXPECT_EQ(shown.icon, BoxIcon::None);
        EXPECT_EQ(shown.buttons, BoxButtons::Ok);
        ASSERT_LT(at + 1, events.size());
        EXPECT_EQ(events[at + 1].kind, Kind::Focus);
        EXPECT_EQ(events[at + 1].widget, box);
        EXPECT_EQ(QApplication::focusWidget(), box);
        EXPECT_TRUE(form()->RadioButton1->isChecked());
        EXPECT_TRUE(form()->Button1->isEnabled());
    }
};

} // namespace

TEST_F(ValidationTest, EachTypedBoxStoresItsOwnField) {
    const struct {
        int box;
        double TBolt::*field;
    } boxes[] = {{1, &TBolt::a},   {2, &TBolt::R},  {3, &TBolt::d1}, {4, &TBolt::d0},
                 {6, &TBolt::K},   {7, &TBolt::b},  {9, &TBolt::L},  {10, &TBolt::c},
                 {11, &TBolt::d2}, {13, &TBolt::e}, {14, &TBolt::S}};
    double value = 101.5;
    for (const auto& b : boxes) {
        enter(edit(b.box), QString::number(value));
        EXPECT_EQ(Bolt.*b.field, value) << "Edit" << b.box;
        value += 1;
    }
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(effects.count(Kind::Beep), 0);
}

TEST_F(ValidationTest, NotANumberWarnsAndKeepsThePreviousValue) {
    for (const char* text : {"abc", "", "1,5", "1e400", "12 mm"}) {
        effects.clear();
        enter(edit(4), QString::fromLatin1(text));
        expectWarning(edit(4), QStringLiteral("Ошибка ввода данных!"));
        EXPECT_DOUBLE_EQ(Bolt.d0, 6.9) << text;
        EXPECT_EQ(edit(4)->text(), QString::fromLatin1(text)); // the text is left as typed
    }
}

TEST_F(ValidationTest, NegativeWarnsAndIsStored) {
    enter(edit(2), "-1.5");
    expectWarning(edit(2), QStringLiteral("Параметр не может быть отрицательным!"));
    EXPECT_EQ(Bolt.R, -1.5);
    EXPECT_EQ(edit(2)->text(), "-1.5");
}

TEST_F(ValidationTest, ZeroAndNegativeZeroWarnAsZeroAndAreStored) {
    enter(edit(6), "0");
    expectWarning(edit(6), QStringLiteral("Нуль недопустим!"));
    EXPECT_EQ(Bolt.K, 0.0);

    effects.clear();
    enter(edit(6), " -0 ");
    expectWarning(edit(6), QStringLiteral("Нуль недопустим!"));
    EXPECT_EQ(Bolt.K, 0.0);
    EXPECT_TRUE(std::signbit(Bolt.K));
}

TEST_F(ValidationTest, CorrectedBoxPassesSilently) {
    enter(edit(3), "x");
    expectWarning(edit(3), QStringLiteral("Ошибка ввода данных!"));
    effects.clear();
    // The focus is back in the box; correct it and leave again.
    QTest::keyClick(edit(3), Qt::Key_Backspace);
    QTest::keyClicks(edit(3), "9.5");
    tabOut(edit(3));
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(Bolt.d1, 9.5);
    EXPECT_NE(QApplication::focusWidget(), edit(3));
}

TEST_F(ValidationTest, WidthAcrossFlatsDerivesHeadDiameter) {
    enter(edit(14), "20");
    EXPECT_EQ(Bolt.S, 20);
    EXPECT_EQ(Bolt.D, 19);
    EXPECT_EQ(edit(5)->text(), "19");
    EXPECT_TRUE(effects.boxes().empty());

    // Not a number: S stays, D is worked out again from it.
    Bolt.D = 1;
    enter(edit(14), "?");
    expectWarning(edit(14), QStringLiteral("Ошибка ввода данных!"));
    EXPECT_EQ(Bolt.S, 20);
    EXPECT_EQ(Bolt.D, 19);
    EXPECT_EQ(edit(5)->text(), "19");

    effects.clear();
    QTest::keyClick(edit(14), Qt::Key_Backspace);
    QTest::keyClicks(edit(14), "-10");
    tabOut(edit(14));
    expectWarning(edit(14), QStringLiteral("Параметр не может быть отрицательным!"));
    EXPECT_EQ(Bolt.S, -10);
    EXPECT_EQ(edit(5)->text(), "-9.5");
}

TEST_F(ValidationTest, ShankLengthDerivesBothSectionLengths) {
    enter(edit(9), "100");
    EXPECT_EQ(Bolt.L, 100);
    EXPECT_EQ(Bolt.L2, 50);
    EXPECT_EQ(Bolt.L3, 10);
    EXPECT_EQ(edit(8)->text(), "50");
    EXPECT_EQ(edit(12)->text(), "10");

    enter(edit(9), "0");
    expectWarning(edit(9), QStringLiteral("Нуль недопустим!"));
    EXPECT_EQ(edit(8)->text(), "0");
    EXPECT_EQ(edit(12)->text(), "0");
}

TEST_F(ValidationTest, CommaLocaleReadsAndWritesCommas) {
    QLocale::setDefault(QLocale(QLocale::Russian));
    enter(edit(9), "12,5");
    EXPECT_EQ(Bolt.L, 12.5);
    EXPECT_EQ(edit(8)->text(), "6,25");
    EXPECT_EQ(edit(12)->text(), "1,25");
    EXPECT_TRUE(effects.boxes().empty());

    enter(edit(9), "12.5");
    expectWarning(edit(9), QStringLiteral("Ошибка ввода данных!"));
    EXPECT_EQ(Bolt.L, 12.5);
}

TEST_F(ValidationTest, TabbingThroughClearedBoxesWarnsOnceAndKeepsTheFocus) {
    // The first box after the defaults: Edit2 is empty.
    click(edit(2));
    QTest::keyClick(edit(2), Qt::Key_Tab);
    expectWarning(edit(2), QStringLiteral("Ошибка ввода данных!"));
    // The box the focus was moving to was never left, so it was not checked.
    EXPECT_DOUBLE_EQ(Bolt.d1, 8);
}

TEST_F(ValidationTest, DerivedBoxIsSkippedByTab) {
    typeInto(edit(4), "7");
    tabOut(edit(4));
    EXPECT_EQ(QApplication::focusWidget(), edit(6)); // Edit5 is never enabled
}

TEST_F(ValidationTest, LeavingTheWindowIsNotLeavingTheBox) {
    click(edit(4)); // empty: leaving it would warn
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 60000));
    form()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form(), 60000));
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(QApplication::focusWidget(), edit(4));
}

TEST_F(ValidationTest, PressingAddChecksTheBoxFirst) {
    const int before = catalogue->rowCount("Размеры");
    // Each click into the next box leaves the one before.
    typeInto(edit(4), "10");
    typeInto(edit(3), "12");
    typeInto(edit(11), "8");
    typeInto(edit(14), "18");
    typeInto(edit(2), "0.6");
    typeInto(edit(6), "7.5");
    typeInto(edit(9), "70");
    typeInto(edit(13), "20.03");
    click(form()->Button1); // straight from the box
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(Bolt.e, 20.03);
    ASSERT_EQ(catalogue->rowCount("Размеры"), before + 1);
    EXPECT_EQ(catalogue->scalar("select e from \"Размеры\" where isp='013'"), "20.03");
}

TEST_F(ValidationTest, PressingAddFromARejectedBoxDoesNotAdd) {
    const int before = catalogue->rowCount("Размеры");
    for (int n : {4, 3, 11, 14, 2, 6, 9})
        typeInto(edit(n), "5");
    typeInto(edit(13), "oops");
    click(form()->Button1);
    expectWarning(edit(13), QStringLiteral("Ошибка ввода данных!"));
    // The press lost its focus to the check, so the add never ran on the stale value.
    EXPECT_EQ(catalogue->rowCount("Размеры"), before);
    EXPECT_DOUBLE_EQ(Bolt.e, 14.38);
}
