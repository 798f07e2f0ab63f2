// Browsing, correcting, adding and deleting rows in the table window, as a user does it.
#include "table_test_support.h"

#include <QLocale>

using namespace krepiks;
using namespace krepiks::test;

namespace {

QString d0Sql(const char* isp) {
    return QStringLiteral("select d0 from \"Размеры\" where isp='%1'")
        .arg(QString::fromLatin1(isp));
}

} // namespace

using TableEditing = TableWindowTest;

TEST_F(TableEditing, AnEditReachesTheFileWhenTheRowIsLeft) {
    open();
    goToField("d0");
    typeOver("5.5");
    EXPECT_EQ(query()->state(), TTableQuery::State::Edit) << "typing starts editing";
    EXPECT_TRUE(button("Post")->isEnabled());
    EXPECT_EQ(stored(d0Sql("M6x40")), "5.2") << "nothing written while still in the row";

    key(Qt::Key_Down);
    EXPECT_EQ(stored(d0Sql("M6x40")), "5.5");
    EXPECT_EQ(query()->state(), TTableQuery::State::Browse);
    EXPECT_EQ(query()->RecNo(), 1);
    EXPECT_EQ(grid()->currentIndex().row(), 1);
    EXPECT_EQ(cell(0, "d0"), "5.5");

    // A click on a cell of another row leaves the row just the same.
    goToField("isp");
    typeOver("M8x55");
    const QModelIndex target = query()->index(5, 3);
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(target).center());
    EXPECT_EQ(catalogue.scalar("select isp from \"Размеры\" where id=2"), "M8x55");
    EXPECT_EQ(grid()->currentIndex(), target);
    EXPECT_EQ(query()->RecNo(), 5);
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(TableEditing, PostWritesAndCancelDrops) {
    open();
    query()->MoveTo(2);
    goToField("d0");
    typeOver("8.8");
    click("Post");
    EXPECT_EQ(stored(d0Sql("M10x60")), "8.8");
    EXPECT_FALSE(query()->Editing());
    EXPECT_EQ(query()->RecNo(), 2);

    goToField("d0");
    typeOver("1.25");
    enter();
    EXPECT_EQ(cell(2, "d0"), "1.25");
    EXPECT_TRUE(query()->Editing());
    click("Cancel");
    EXPECT_FALSE(query()->Editing());
    EXPECT_EQ(cell(2, "d0"), "8.8");
    EXPECT_EQ(editor(), nullptr);
    key(Qt::Key_Down);
    EXPECT_EQ(stored(d0Sql("M10x60")), "8.8");

    // Escape in the grid drops a change as well.
    goToField("d1");
    typeOver("99");
    enter();
    EXPECT_TRUE(query()->Editing());
    key(Qt::Key_Escape);
    EXPECT_FALSE(query()->Editing());
    key(Qt::Key_Down);
    EXPECT_EQ(stored("select d1 from \"Размеры\" where isp='M10x80'"), "10");
}

TEST_F(TableEditing, AnEmptyCellFilledInIsStored) {
    expectAnEmptyCellFilled({[this](const QString& sql) { catalogue.exec(sql); },
                             [this](const QString& sql) { return catalogue.scalar(sql); }});
}

TEST_F(TableEditing, EditingStartsWithAKeyTypedOrTheEditButton) {
    open();
    goToField("d2");
    QTest::keyClick(grid(), Qt::Key_7);
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(query()->state(), TTableQuery::State::Edit);
    EXPECT_TRUE(editor()->text().endsWith('7'));
    click("Cancel");

    click("Edit");
    EXPECT_EQ(query()->state(), TTableQuery::State::Edit);
    EXPECT_FALSE(button("Edit")->isEnabled());
    EXPECT_EQ(query()->headerData(0, Qt::Vertical).toString(), "I");
    click("Post");
    EXPECT_EQ(query()->state(), TTableQuery::State::Browse);
    EXPECT_EQ(query()->headerData(0, Qt::Vertical).toString(), "\u25BA");
    EXPECT_EQ(stored(d0Sql("M6x40")), "5.2");
}

TEST_F(TableEditing, NavigatorButtonsFollowThePositionAndTheState) {
    open();
    auto enabled = [&] {
        QString states;
        for (const char* name :
             {"First", "Prior", "Next", "Last", "Delete", "Edit", "Post", "Cancel", "Refresh"})
            states += button(name)->isEnabled() ? '1' : '0';
        return states;
    };
    EXPECT_EQ(enabled(), "001111001") << "on the first row";
    click("Next");
    EXPECT_EQ(query()->RecNo(), 1);
    EXPECT_EQ(enabled(), "111111001") << "in the middle";
    click("Last");
    EXPECT_EQ(query()->RecNo(), 11);
    EXPECT_EQ(grid()->currentIndex().row(), 11);
    EXPECT_EQ(enabled(), "110011001") << "on the last row";
    goToField("d0");
    typeOver("1");
    EXPECT_EQ(enabled(), "110010111") << "while editing";
    click("Prior");
    EXPECT_EQ(query()->RecNo(), 10);
    EXPECT_EQ(stored("select d0 from \"Размеры\" where id=12"), "1");
    click("First");
    EXPECT_EQ(grid()->currentIndex().row(), 0);
    EXPECT_EQ(enabled(), "001111001");
}

TEST_F(TableEditing, DeleteAsksAndOnlyOkRemovesTheRow) {
    open();
    query()->MoveTo(3);
    effects.answerNext(BoxResult::Cancel);
    click("Delete");
    ASSERT_EQ(effects.boxes().size(), 1u);
    const MessageBoxRequest box = effects.boxes()[0];
    EXPECT_EQ(box.caption, "Крепикс");
    EXPECT_EQ(box.text, "Delete record?");
    EXPECT_EQ(box.icon, BoxIcon::Question);
    EXPECT_EQ(box.buttons, BoxButtons::OkCancel);
    EXPECT_EQ(catalogue.rowCount("Размеры"), 12);
    EXPECT_EQ(query()->rowCount(), 12);

    effects.answerNext(BoxResult::Ok);
    click("Delete");
    EXPECT_EQ(catalogue.rowCount("Размеры"), 11);
    EXPECT_EQ(catalogue.scalar("select count(*) from \"Размеры\" where isp='M10x80'"), "0");
    EXPECT_EQ(query()->rowCount(), 11);
    EXPECT_EQ(query()->RecNo(), 3);
    EXPECT_EQ(cell(3, "isp"), "M12x70") << "the next row becomes current";
    EXPECT_EQ(grid()->currentIndex().row(), 3);

    // Ctrl+Delete in the grid asks the same question.
    query()->Last();
    effects.answerNext(BoxResult::Cancel);
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(effects.boxes().size(), 3u);
    EXPECT_EQ(catalogue.rowCount("Размеры"), 11);
    effects.answerNext(BoxResult::Ok);
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(catalogue.rowCount("Размеры"), 10);
    EXPECT_EQ(query()->RecNo(), 9) << "the last row gone, the one above it is current";
    EXPECT_FALSE(button("Next")->isEnabled());

    // The box runs its own event loop: a row that became current meanwhile is not the one
    // the user agreed to delete.
    query()->MoveTo(2);
    effects.onBox = [&](const MessageBoxRequest&) { query()->MoveTo(5); };
    effects.answerNext(BoxResult::Ok);
    click("Delete");
    effects.onBox = nullptr;
    EXPECT_EQ(catalogue.rowCount("Размеры"), 10);

    // A delete the file refuses is reported and the row stays.
    catalogue.exec("create trigger keep before delete on \"Размеры\" "
                   "begin select raise(abort, 'kept'); end");
    effects.answerNext(BoxResult::Ok);
    click("Delete");
    const auto boxes = errorBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "kept.");
    EXPECT_EQ(query()->rowCount(), 10);
    EXPECT_EQ(cell(9, "isp"), "M22x120");
}

TEST_F(TableEditing, ANewRowLeftEmptyAddsNothing) {
    open();
    query()->MoveTo(4);
    key(Qt::Key_Insert);
    EXPECT_EQ(query()->state(), TTableQuery::State::Insert);
    EXPECT_EQ(query()->rowCount(), 13);
    EXPECT_EQ(query()->RecNo(), 4) << "the new row goes before the current one";
    EXPECT_EQ(query()->headerData(4, Qt::Vertical).toString(), "*");
    key(Qt::Key_Up);
    EXPECT_EQ(query()->rowCount(), 12);
    EXPECT_EQ(query()->RecNo(), 3);
    EXPECT_EQ(cell(4, "isp"), "M12x70");

    // A click below the new row lands on the row clicked, once the new row is gone.
    key(Qt::Key_Insert);
    const QModelIndex below = query()->index(6, 2);
    ASSERT_EQ(cell(6, "isp"), "M12x100");
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(below).center());
    EXPECT_EQ(query()->rowCount(), 12);
    EXPECT_EQ(cell(query()->RecNo(), "isp"), "M12x100");
    EXPECT_EQ(grid()->currentIndex().row(), query()->RecNo());

    // Down on the last row starts one; Down again stays on it; Up drops it.
    query()->Last();
    key(Qt::Key_Down);
    EXPECT_EQ(query()->state(), TTableQuery::State::Insert);
    EXPECT_EQ(query()->RecNo(), 12);
    key(Qt::Key_Down);
    EXPECT_EQ(query()->rowCount(), 13);
    key(Qt::Key_Up);
    EXPECT_EQ(query()->rowCount(), 12);
    EXPECT_EQ(query()->RecNo(), 11);

    // The grid losing the focus to another control drops it as well.
    key(Qt::Key_Down);
    ASSERT_EQ(query()->rowCount(), 13);
    grid()->setFocus();
    button("Refresh")->setFocus();
    EXPECT_EQ(query()->rowCount(), 12);
    EXPECT_FALSE(query()->Editing());
    EXPECT_EQ(catalogue.rowCount("Размеры"), 12);
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(TableEditing, AFilledInNewRowIsWrittenWhenLeft) {
    open();
    query()->Last();
    key(Qt::Key_Down);
    goToField("isp");
    typeOver("M30x200");
    key(Qt::Key_Tab);
    typeOver("26");
    key(Qt::Key_Up);
    EXPECT_EQ(catalogue.rowCount("Размеры"), 13);
    EXPECT_EQ(stored(d0Sql("M30x200")), "26");
    EXPECT_EQ(catalogue.scalar("select d1 from \"Размеры\" where isp='M30x200'"), "")
        << "untouched cells stay empty";
    EXPECT_EQ(query()->RecNo(), 11);
    EXPECT_EQ(cell(12, "isp"), "M30x200");

    // The written row carries its new key and can be corrected at once.
    query()->MoveTo(12);
    goToField("d0");
    typeOver("27");
    click("Post");
    EXPECT_EQ(catalogue.rowCount("Размеры"), 13);
    EXPECT_EQ(stored(d0Sql("M30x200")), "27");
}

TEST_F(TableEditing, ARefusedSaveIsReportedAndTheRowStaysInEditing) {
    catalogue.exec("create trigger refuse before update on \"Размеры\" "
                   "begin select raise(abort, 'refused'); end");
    open();
    query()->MoveTo(1);
    goToField("d0");
    typeOver("7.7");
    key(Qt::Key_Down);
    auto boxes = errorBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Крепикс");
    EXPECT_EQ(boxes[0].text, "refused.");
    EXPECT_EQ(query()->state(), TTableQuery::State::Edit);
    EXPECT_EQ(query()->RecNo(), 1);
    EXPECT_EQ(grid()->currentIndex().row(), 1) << "the grid stays on the row";
    EXPECT_EQ(cell(1, "d0"), "7.7");
    EXPECT_TRUE(button("Post")->isEnabled());

    click("Post");
    EXPECT_EQ(errorBoxes().size(), 2u);
    EXPECT_EQ(query()->state(), TTableQuery::State::Edit);

    click("Cancel");
    EXPECT_EQ(cell(1, "d0"), "6.9");
    key(Qt::Key_Down);
    EXPECT_EQ(query()->RecNo(), 2);
    EXPECT_EQ(errorBoxes().size(), 2u);
    EXPECT_EQ(stored(d0Sql("M8x50")), "6.9");
}

TEST_F(TableEditing, NumbersAreTypedWithTheRegionalSeparatorAndCheckedAsNumbers) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    open();
    EXPECT_EQ(cell(0, "d0"), "5,2");
    goToField("d0");
    typeOver("12,5");
    click("Post");
    EXPECT_EQ(stored(d0Sql("M6x40")), "12.5");
    EXPECT_EQ(cell(0, "d0"), "12,5");

    goToField("d0");
    typeOver("abc");
    enter();
    const auto boxes = errorBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "'abc' is not a valid floating point value for field 'd0'");
    EXPECT_EQ(cell(0, "d0"), "12,5");
    key(Qt::Key_Down);
    EXPECT_EQ(stored(d0Sql("M6x40")), "12.5");

    // Clearing a number stores no value.
    goToField("d2");
    typeOver("");
    QTest::keyClick(editor(), Qt::Key_Delete);
    key(Qt::Key_Up);
    EXPECT_EQ(catalogue.scalar("select d2 from \"Размеры\" where isp='M8x50'"), "");
    QLocale::setDefault(previous);
}

TEST_F(TableEditing, NoValueBeyondTheNumbersIsTakenFromACell) {
    open();
    goToField("d1");
    for (const char* typed : {"nan", "inf", "-Inf", "infinity", "NaN", "1e400"}) {
        SCOPED_TRACE(typed);
        effects.clear();
        typeOver(QString::fromLatin1(typed));
        enter();
        const auto boxes = errorBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, QStringLiteral("'%1' is not a valid floating point value for "
                                                "field 'd1'")
                                     .arg(QString::fromLatin1(typed)));
        EXPECT_EQ(cell(0, "d1"), "6");
    }
    key(Qt::Key_Escape);
    key(Qt::Key_Down);
    EXPECT_EQ(stored("select d1 from \"Размеры\" where isp='M6x40'"), "6");
    EXPECT_EQ(catalogue.scalar("select typeof(d1) from \"Размеры\" where isp='M6x40'"), "real");
}

TEST_F(TableEditing, RefreshReadsTheFileAgainAndKeepsTheRow) {
    open();
    query()->MoveTo(6);
    catalogue.exec("update \"Размеры\" set d0=1 where isp='M14x80'");
    catalogue.exec("delete from \"Размеры\" where id<3");
    click("Refresh");
    EXPECT_EQ(query()->rowCount(), 10);
    EXPECT_EQ(cell(query()->RecNo(), "isp"), "M14x80");
    EXPECT_EQ(cell(query()->RecNo(), "d0"), "1");
    EXPECT_EQ(grid()->currentIndex().row(), query()->RecNo());
}
