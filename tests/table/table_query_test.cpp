// The table window's query on its own: lazy reading, positions and row writes.
#include "catalogue/database.h"
#include "catalogue/table_query.h"
#include "platform/exception.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace krepiks;
using krepiks::test::RecordingEffects;
using krepiks::test::TestCatalogue;

namespace {

const QString AllRows = QStringLiteral("select * from  Размеры order by id;");

class QueryTest : public ::testing::Test {
protected:
    void openOn(const QString& statement) {
        query.SQL = QStringList{statement};
        query.Open();
    }
    void addRows(int count) {
        catalogue.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 "
                                      "from n where i < %1) insert into \"Размеры\" (isp, d0) "
                                      "select 'r' || i, i from n")
                           .arg(count));
    }

    TestCatalogue catalogue;
    RecordingEffects effects;
    TADOConnection connection;
    TTableQuery query{&connection};
};

} // namespace

TEST_F(QueryTest, ReadsAheadOnlyAsFarAsTheCurrentRowNeeds) {
    addRows(988); // 1000 rows in all
    openOn(AllRows);
    const int firstRead = query.rowCount();
    EXPECT_LT(firstRead, 1000);
    EXPECT_FALSE(query.AtLast());
    query.MoveTo(firstRead - 1);
    EXPECT_GT(query.rowCount(), firstRead) << "one row beyond the current one is known";
    EXPECT_FALSE(query.AtLast());
    EXPECT_EQ(query.RecordCount(), 1000);
    query.Last();
    EXPECT_TRUE(query.AtLast());
    EXPECT_EQ(query.FieldAsString("isp"), "r988");
}

TEST_F(QueryTest, ARowWrittenWhileStillReadingIsNotShownTwice) {
    addRows(988);
    openOn(AllRows);
    query.Insert();
    query.SetField("isp", "fresh");
    query.Post();
    ASSERT_EQ(query.RecNo(), 0);
    const qlonglong key = query.FieldValue("id").toLongLong();
    EXPECT_GT(key, 1000);
    query.Last();
    EXPECT_EQ(query.rowCount(), 1001);
    int seen = 0;
    for (int row = 0; row < query.rowCount(); ++row)
        seen += query.data(query.index(row, TTableQuery::NameColumn)).toString() == "fresh";
    EXPECT_EQ(seen, 1);
}

TEST_F(QueryTest, EditingAnEmptyTableStartsTheFirstRow) {
    catalogue.exec("delete from \"Размеры\"");
    openOn(AllRows);
    EXPECT_TRUE(query.IsEmpty());
    EXPECT_TRUE(query.AtFirst() && query.AtLast());
    EXPECT_EQ(query.RecNo(), -1);
    EXPECT_EQ(query.FieldAsFloat("d0"), 0.0);
    query.Edit();
    EXPECT_EQ(query.state(), TTableQuery::State::Insert);
    query.SetFieldText(TTableQuery::NameColumn, "001");
    query.Post();
    EXPECT_EQ(catalogue.rowCount("Размеры"), 1);
    EXPECT_EQ(query.RecNo(), 0);
}

TEST_F(QueryTest, FieldsAreFoundByNameAndTheKeyIsReadOnly) {
    openOn(AllRows);
    query.MoveTo(1);
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("s"), 13.0);
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("S"), 13.0);
    EXPECT_THROW(query.FieldValue("nothing"), EDatabaseError);
    EXPECT_THROW(query.SetField("id", 77), EDatabaseError);
    EXPECT_FALSE(query.flags(query.index(1, TTableQuery::KeyColumn)) & Qt::ItemIsEditable);
    EXPECT_TRUE(query.flags(query.index(1, TTableQuery::NameColumn)) & Qt::ItemIsEditable);
    // A long name is cut to the column's size.
    query.SetFieldText(TTableQuery::NameColumn, QString(200, 'x'));
    query.Post();
    EXPECT_EQ(catalogue.scalar("select length(isp) from \"Размеры\" where id=2"), "150");
}

TEST_F(QueryTest, AResultWithoutAFieldOfTheGridFailsToOpen) {
    query.setObjectName("ADOQuery1");
    try {
        openOn("select id, isp from Размеры");
        FAIL();
    } catch (const EDatabaseError& error) {
        EXPECT_STREQ(error.what(), "ADOQuery1: Field 'd0' not found");
    }
    EXPECT_FALSE(query.Active());
}

TEST_F(QueryTest, OnlyTheCurrentRowTakesTypedValues) {
    openOn(AllRows);
    EXPECT_FALSE(query.setData(query.index(3, 2), "1"));
    EXPECT_FALSE(query.Editing());
    EXPECT_TRUE(query.setData(query.index(0, 2), "1"));
    EXPECT_TRUE(query.Editing());
    // The same value again changes nothing on a row not in editing.
    query.Cancel();
    EXPECT_TRUE(query.setData(query.index(0, 2), "5.2"));
    EXPECT_FALSE(query.Editing());
}

TEST_F(QueryTest, NumbersShowInTheGeneralFormat) {
    EXPECT_EQ(TTableQuery::DisplayText(2, 0.0), "0");
    EXPECT_EQ(TTableQuery::DisplayText(2, -0.0), "0");
    EXPECT_EQ(TTableQuery::DisplayText(2, 0.1 + 0.2), "0.3");
    EXPECT_EQ(TTableQuery::DisplayText(2, 123456789012.5), "123456789012.5");
    EXPECT_EQ(TTableQuery::DisplayText(2, 1e15), "1E15");
    EXPECT_EQ(TTableQuery::DisplayText(2, 0.00005), "5E-5");
    EXPECT_EQ(TTableQuery::DisplayText(2, QVariant()), "");
    EXPECT_EQ(TTableQuery::DisplayText(1, QStringLiteral("M6")), "M6");
}

TEST_F(QueryTest, ClosingTheConnectionDropsAnUnpostedRow) {
    openOn(AllRows);
    QSignalSpy resets(&query, &QAbstractItemModel::modelReset);
    query.Append();
    query.SetField("isp", "lost");
    connection.Close();
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(query.rowCount(), 0);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(catalogue.rowCount("Размеры"), 12);
    EXPECT_THROW(query.Next(), EDatabaseError);
}

TEST_F(QueryTest, DeletingAnUnpostedNewRowOnlyDropsIt) {
    openOn(AllRows);
    query.MoveTo(2);
    query.Insert();
    query.SetField("isp", "draft");
    query.Delete();
    EXPECT_FALSE(query.Editing());
    EXPECT_EQ(query.rowCount(), 12);
    EXPECT_EQ(query.FieldAsString("isp"), "M10x60");
    EXPECT_EQ(catalogue.rowCount("Размеры"), 12);
}
