// The table window's layout, its openings and its tie to the shared connection.
#include "table_test_support.h"

#include "catalogue/database.h"
#include "design/unit4.h"
#include "platform/bevel_panel.h"
#include "platform/browser/browser.h"
#include "platform/exception.h"
#include "platform/link_label.h"
#include "shell/web_address.h"

#include <QHeaderView>
#include <QPushButton>

using namespace krepiks;
using namespace krepiks::test;

namespace {

const QString OpeningStatement = QStringLiteral("select * from  Размеры order by id;");

} // namespace

using TableLayout = TableWindowTest;

TEST_F(TableLayout, WindowGridColumnsAndFooter) {
    open();
    EXPECT_EQ(Form2->windowTitle(), "Таблица болтов");
    EXPECT_EQ(Form2->size(), QSize(840, 378));
    EXPECT_EQ(Form2->minimumSize(), Form2->maximumSize()) << "the window must not be resizable";
    EXPECT_EQ(Form2->font().pixelSize(), 10);

    QStringList shown;
    for (int column = 0; column < query()->columnCount(); ++column) {
        const QString title = query()->headerData(column, Qt::Horizontal).toString();
        if (grid()->isColumnHidden(column)) {
            EXPECT_EQ(title, "id");
            continue;
        }
        shown << title;
        EXPECT_EQ(grid()->columnWidth(column), title == "isp" ? 70 : 50) << title.toStdString();
    }
    EXPECT_EQ(shown, QStringList({"isp", "d0", "d1", "d2", "D", "R", "K", "L", "L2", "L3", "a", "b",
                                  "c", "S", "e"}));
    EXPECT_EQ(grid()->horizontalHeader()->sectionResizeMode(1), QHeaderView::Interactive);
    EXPECT_TRUE(grid()->verticalHeader()->isVisible()) << "row indicator column";
    EXPECT_EQ(grid()->font().pixelSize(), 11);
    EXPECT_EQ(grid()->palette().color(QPalette::Text), QColor(0x80, 0x00, 0x00));
    EXPECT_EQ(grid()->horizontalHeader()->font().pixelSize(), 12);

    // Name left, numbers right, in the general format.
    auto alignment = [&](int column) {
        return query()->data(query()->index(0, column), Qt::TextAlignmentRole).toInt();
    };
    EXPECT_TRUE(alignment(TTableQuery::NameColumn) & Qt::AlignLeft);
    EXPECT_TRUE(alignment(TTableQuery::NameColumn + 1) & Qt::AlignRight);
    EXPECT_EQ(cell(0, "isp"), "M6x40");
    EXPECT_EQ(cell(0, "d0"), "5.2");
    EXPECT_EQ(cell(0, "d1"), "6");

    // The hidden button takes no room: grid, navigator and footer touch each other.
    EXPECT_FALSE(Form2->Button1->isVisible());
    EXPECT_FALSE(Form2->Button1->isEnabled());
    EXPECT_EQ(Form2->Button1->text(), "Выбрать");
    EXPECT_EQ(grid()->geometry(), QRect(0, 0, 840, 313));
    EXPECT_EQ(Form2->DBNavigator2->geometry(), QRect(0, 313, 840, 25));
    EXPECT_EQ(Form2->Panel3->geometry(), QRect(0, 338, 840, 40));
    EXPECT_EQ(Form2->Panel3->bevelInner(), BevelPanel::Bevel::Lowered);

    QStringList order;
    for (QToolButton* b : Form2->DBNavigator2->findChildren<QToolButton*>())
        order << b->objectName();
    EXPECT_EQ(order, QStringList({"First", "Prior", "Next", "Last", "Delete", "Edit", "Post",
                                  "Cancel", "Refresh"}));

    EXPECT_EQ(Form2->Label1->text(), FooterLinkCaption());
    EXPECT_EQ(Form2->Label1->pos(), QPoint(32, 5));
    EXPECT_EQ(Form2->Label1->font().pixelSize(), 24);
    EXPECT_EQ(Form2->Label1->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
    EXPECT_EQ(Form2->Label1->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(TableLayout, TheFooterLinkOpensTheAddressAndEscLeavesTheWindowOpen) {
    RegisterBrowserClass();
    open();
    QTest::mouseClick(Form2->Label1, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(effects.count(RecordingEffects::Kind::Url), 1);
    EXPECT_EQ(effects.events.back().url, QUrl(WebAddress));
    EXPECT_TRUE(effects.boxes().empty());

    QTest::keyClick(grid(), Qt::Key_Escape);
    QTest::keyClick(Form2, Qt::Key_Escape);
    EXPECT_TRUE(Form2->isVisible());
}

using TableOpening = TableWindowTest;

TEST_F(TableOpening, EachOpeningShowsTheFileAsItIsNowFromTheFirstRow) {
    open();
    EXPECT_EQ(query()->rowCount(), 12);
    EXPECT_EQ(query()->RecNo(), 0);
    EXPECT_EQ(grid()->currentIndex().row(), 0);
    query()->Last();
    EXPECT_EQ(grid()->currentIndex().row(), 11);
    grid()->horizontalHeader()->resizeSection(2, 120);
    Form2->close();

    // Rows added meanwhile, one of them with a key below the others.
    catalogue.exec("insert into \"Размеры\" (id, isp, d0) values (500, 'late', 1.5)");
    catalogue.exec("insert into \"Размеры\" (id, isp, d0) values (300, 'early', 2)");
    open();
    ASSERT_EQ(query()->rowCount(), 14);
    EXPECT_EQ(query()->RecNo(), 0) << "first row current again";
    EXPECT_EQ(grid()->currentIndex().row(), 0);
    EXPECT_EQ(cell(0, "isp"), "M6x40");
    EXPECT_EQ(cell(12, "isp"), "early");
    EXPECT_EQ(cell(13, "isp"), "late");
    EXPECT_EQ(cell(13, "d0"), "1.5");
    EXPECT_EQ(grid()->columnWidth(2), 120) << "a widened column stays wide";
    EXPECT_TRUE(grid()->isColumnHidden(TTableQuery::KeyColumn));
}

TEST_F(TableOpening, CreationUsesOneBlankAndEveryOpeningTheTwoBlankStatement) {
    // Build the windows by hand so the statement hook is in place before the table window.
    DestroyForms();
    Form1 = new TForm1();
    Form1->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    Form4 = new TForm4();
    QStringList seen;
    Form4->ADOConnection1->onStatement = [&](const QString& s) { seen << s; };
    Form2 = new TForm2();
    ASSERT_EQ(seen, QStringList{"select * from Размеры order by id;"});
    EXPECT_EQ(Form2->ADOQuery1->rowCount(), 12);

    seen.clear();
    open();
    EXPECT_EQ(seen, QStringList{OpeningStatement});
    EXPECT_EQ(query()->SQL, QStringList{OpeningStatement});

    // A box over the window and the window active again is no new opening.
    effects.answerNext(BoxResult::Cancel);
    click("Next");
    click("Delete");
    activate();
    EXPECT_EQ(query()->RecNo(), 1);
    EXPECT_EQ(seen.size(), 1);

    Form2->close();
    open();
    EXPECT_EQ(seen, QStringList({OpeningStatement, OpeningStatement}));
}

TEST_F(TableOpening, ClosingTheSharedConnectionClosesTheGridsQuery) {
    open();
    ASSERT_EQ(query()->rowCount(), 12);
    Form2->close();
    Form4->ADOConnection1->Close();
    EXPECT_FALSE(query()->Active());
    EXPECT_EQ(query()->rowCount(), 0);
    EXPECT_FALSE(button("Refresh")->isEnabled());
    Form4->ADOConnection1->Open();
    EXPECT_FALSE(query()->Active()) << "stays closed until the next opening";
    open();
    EXPECT_TRUE(query()->Active());
    EXPECT_EQ(query()->rowCount(), 12);
}

TEST_F(TableOpening, ClosingHidesAndLeavesTheQueryAlone) {
    open();
    query()->MoveTo(4);
    goToField("d0");
    typeOver("9");
    Form2->close();
    EXPECT_FALSE(Form2->isVisible());
    EXPECT_TRUE(query()->Active());
    EXPECT_EQ(query()->RecNo(), 4);
    EXPECT_TRUE(query()->Editing());
    EXPECT_EQ(catalogue.scalar("select d0 from \"Размеры\" where isp='M12x70'"), "10.4");
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(TableOpening, AFailedReopenIsReportedAndTheWindowOpensEmpty) {
    open();
    Form2->close();
    catalogue.exec("alter table \"Размеры\" rename to old");
    open();
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_FALSE(query()->Active());
    EXPECT_EQ(query()->rowCount(), 0);
    const auto boxes = errorBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Крепикс");
    EXPECT_TRUE(boxes[0].text.contains("'Размеры'")) << boxes[0].text.toStdString();
    for (const char* name : {"First", "Next", "Delete", "Edit", "Post", "Refresh"})
        EXPECT_FALSE(button(name)->isEnabled()) << name;

    catalogue.exec("alter table old rename to \"Размеры\"");
    Form2->close();
    open();
    EXPECT_EQ(query()->rowCount(), 12);
}

class TableStartup : public TableWindowTest {
protected:
    void SetUp() override {}
};

TEST_F(TableStartup, AMissingTableStopsTheWindowsBeingCreated) {
    catalogue.exec("drop table \"Размеры\"");
    try {
        createForms();
        FAIL() << "the table window was created without its table";
    } catch (const EDatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot find the input table or query"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(Form2, nullptr);
}

TEST_F(TableStartup, ALargeCatalogueShowsWithoutReadingEveryRow) {
    catalogue.exec("with recursive n(i) as (select 1 union all select i + 1 from n "
                   "where i < 100000) insert into \"Размеры\" (isp, d0) "
                   "select 'v' || i, i from n");
    createForms();
    open();
    EXPECT_LT(query()->rowCount(), 1000);
    EXPECT_TRUE(query()->canFetchMore());
    EXPECT_TRUE(button("Next")->isEnabled());
    EXPECT_TRUE(button("Last")->isEnabled());
    click("Last");
    EXPECT_EQ(query()->rowCount(), 100012);
    EXPECT_EQ(query()->RecNo(), 100011);
    EXPECT_EQ(cell(100011, "isp"), "v100000");
    EXPECT_FALSE(button("Next")->isEnabled());
}
