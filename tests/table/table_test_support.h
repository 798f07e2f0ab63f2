#pragma once
// The table window over a sample catalogue, with every window created as at start-up.
#include "catalogue/data_controls.h"
#include "catalogue/table_query.h"
#include "catalogue/unit2.h"
#include "shell/application.h"
#include "shell/unit1.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

namespace krepiks::test {

class TableWindowTest : public ::testing::Test {
protected:
    explicit TableWindowTest(TestCatalogue::Contents contents = TestCatalogue::Contents::Sample)
        : catalogue(contents) {}

    void SetUp() override { createForms(); }

    void TearDown() override {
        if (Form2)
            Form2->hide();
        DestroyForms();
    }

    void createForms() {
        CreateForms();
        // The splash hand-over would show the design window, which reopens the connection.
        if (auto* timer = Form1->findChild<QTimer*>(QStringLiteral("Timer1")))
            timer->stop();
    }

    // Opens the window as the menu does, without waiting in a modal loop.
    void open() {
        Form2->show();
        activate();
    }

    // Brings the window to the front as a click on it would, once shown.
    void activate() {
        Form2->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form2, 60000));
    }

    TTableQuery* query() const { return Form2->ADOQuery1; }
    TDBGrid* grid() const { return Form2->DBGrid1; }
    QToolButton* button(const char* name) const {
        return Form2->DBNavigator2->findChild<QToolButton*>(QString::fromLatin1(name));
    }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }

    QString cell(int row, const char* field) const {
        const int column = TTableQuery::FieldNames().indexOf(QString::fromLatin1(field));
        return query()->data(query()->index(row, column)).toString();
    }

    // The cell editor open in the grid, if any.
    QLineEdit* editor() const {
        for (QLineEdit* line : grid()->viewport()->findChildren<QLineEdit*>())
            if (line->isVisible())
                return line;
        return nullptr;
    }

    // Puts the grid's current cell on field of the current row.
    void goToField(const char* field) const {
        const int column = TTableQuery::FieldNames().indexOf(QString::fromLatin1(field));
        grid()->setCurrentIndex(query()->index(grid()->currentIndex().row(), column));
    }

    // Opens the current cell's editor with F2 and types text over its contents; the editor
    // stays open, as when the user is still in the cell.
    void typeOver(const QString& text) const {
        QTest::keyClick(grid(), Qt::Key_F2);
        QLineEdit* line = editor();
        ASSERT_NE(line, nullptr);
        line->selectAll();
        QTest::keyClicks(line, text);
    }

    // A key pressed where the user's typing goes: the open editor, else the grid.
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        QWidget* target = editor() ? static_cast<QWidget*>(editor()) : grid();
        QTest::keyClick(target, k, modifiers);
    }

    // Return in the open editor: the cell is handed over once the event loop runs.
    void enter() const {
        key(Qt::Key_Return);
        QCoreApplication::processEvents();
    }

    // A number stored in the file ("" when there is none).
    QString stored(const QString& sql) const {
        const QString text = catalogue.scalar(sql);
        return text.isEmpty() ? text : QString::number(text.toDouble());
    }

    // Where the catalogue lives, reached apart from the window: SQL run there, and the single
    // value of a query ("" for NULL).
    struct Store {
        std::function<void(const QString&)> exec;
        std::function<QString(const QString&)> scalar;
    };

    // A cell that is empty in the catalogue, filled in the window and posted, is stored: the
    // check that the row is unchanged since it was read must take an empty cell as empty.
    void expectAnEmptyCellFilled(const Store& store) {
        store.exec(QStringLiteral("update Размеры set R = null where isp = 'M8x50'"));
        open();
        query()->MoveTo(1);
        ASSERT_EQ(cell(1, "isp"), "M8x50");
        ASSERT_EQ(cell(1, "R"), "");
        goToField("R");
        typeOver("0.45");
        click("Post");
        EXPECT_TRUE(errorBoxes().empty()) << errorBoxes().front().text.toStdString();
        EXPECT_FALSE(query()->Editing());
        EXPECT_EQ(
            store.scalar(QStringLiteral("select R from Размеры where isp = 'M8x50'")).toStdString(),
            "0.45");
        EXPECT_EQ(cell(1, "R"), "0.45");
    }

    std::vector<MessageBoxRequest> errorBoxes() const {
        std::vector<MessageBoxRequest> result;
        for (const MessageBoxRequest& box : effects.boxes())
            if (box.icon == BoxIcon::Error)
                result.push_back(box);
        return result;
    }

    TestCatalogue catalogue;
    RecordingEffects effects;
};

} // namespace krepiks::test
