// No statement of the program stays open once a read is done or the table window is closed,
// so other processes can write the catalogue while Krepiks sits idle.
#include "catalogue/database.h"
#include "catalogue/table_query.h"
#include "catalogue/unit2.h"
#include "design/unit4.h"
#include "person.h"
#include "shell/application.h"
#include "support/hand_over.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSqlDriver>
#include <QTest>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace krepiks;
using namespace krepiks::test;

namespace {

constexpr int Rows = 12 + 1000;

sqlite3* ProgramHandle() {
    const QVariant handle = Form4->ADOConnection1->database().driver()->handle();
    return *static_cast<sqlite3* const*>(handle.constData());
}

// Statements on the connection that have started stepping and not been reset.
int BusyStatements(sqlite3* db) {
    int busy = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s))
        busy += sqlite3_stmt_busy(s) ? 1 : 0;
    return busy;
}

// A write by another process that does not wait: SQLITE_OK or SQLITE_BUSY.
int WriteWithoutWaiting(const QString& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const int code = sqlite3_exec(db, "insert into swApp (path_templete_detal) values ('other')",
                                  nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return code;
}

class IdleProgram : public ::testing::Test {
protected:
    void SetUp() override {
        catalogue.exec("with recursive n(i) as (select 1 union all select i + 1 from n "
                       "where i < 1000) insert into \"Размеры\" (isp, d0) select 'x' || i, i "
                       "from n");
        CreateForms();
    }
    void TearDown() override { DestroyForms(); }

    RecordingEffects effects;
    TestCatalogue catalogue;
};

} // namespace

TEST_F(IdleProgram, TheTableWindowLetsGoOfItsCursorWhenClosed) {
    ASSERT_TRUE(HandOverToDesignWindow());
    ASSERT_EQ(BusyStatements(ProgramHandle()), 0) << "the refill read everything";
    ASSERT_EQ(WriteWithoutWaiting(catalogue.file()), SQLITE_OK);

    Form2->show();
    Form2->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form2, 60000));
    TTableQuery* query = Form2->ADOQuery1;
    ASSERT_TRUE(query->canFetchMore()) << "a large table is read as the grid needs it";
    // While it reads, the cursor holds the file: a writer would have to wait.
    EXPECT_EQ(BusyStatements(ProgramHandle()), 1);
    EXPECT_EQ(WriteWithoutWaiting(catalogue.file()), SQLITE_BUSY);
    query->MoveTo(3);

    Form2->close();
    EXPECT_EQ(BusyStatements(ProgramHandle()), 0);
    EXPECT_EQ(WriteWithoutWaiting(catalogue.file()), SQLITE_OK);
    // The window's rows are as they were: all of the snapshot, the same current row.
    EXPECT_TRUE(query->Active());
    EXPECT_FALSE(query->canFetchMore());
    EXPECT_EQ(query->rowCount(), Rows);
    EXPECT_EQ(query->RecNo(), 3);
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(IdleProgram, TheDesignWindowsReadsAndWritesLeaveNoStatementOpen) {
    ASSERT_TRUE(HandOverToDesignWindow());
    for (int i = 0; i < 6; ++i) // the sixth variant, chosen with the keyboard
        QTest::keyClick(Form4->ComboBox1, Qt::Key_Down);
    ASSERT_EQ(Form4->ComboBox1->currentText(), "M12x100");
    EXPECT_EQ(Form4->Edit4->text(), "10.4");
    EXPECT_EQ(BusyStatements(ProgramHandle()), 0);
    EXPECT_EQ(WriteWithoutWaiting(catalogue.file()), SQLITE_OK);

    ClickRadio(Form4->RadioButton1);
    AddVariant(VariantValues::ForKey(7), true);
    EXPECT_EQ(catalogue.rowCount("Размеры"), Rows + 1);
    EXPECT_EQ(BusyStatements(ProgramHandle()), 0);
    EXPECT_EQ(WriteWithoutWaiting(catalogue.file()), SQLITE_OK);
    EXPECT_TRUE(effects.boxes().empty());
}
