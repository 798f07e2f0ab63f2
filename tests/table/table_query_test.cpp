// The table window's query on its own: lazy reading, positions and row writes.
#include "catalogue/database.h"
#include "catalogue/table_query.h"
#include "platform/exception.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

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

TEST_F(QueryTest, TheKeyIsReadOnlyAndANameKeepsToItsColumnSize) {
    openOn(AllRows);
    query.MoveTo(1);
    EXPECT_THROW(query.SetField("id", 77), EDatabaseError);
    EXPECT_FALSE(query.flags(query.index(1, TTableQuery::KeyColumn)) & Qt::ItemIsEditable);
    EXPECT_FALSE(query.setData(query.index(3, 2), "1")) << "only the current row takes values";
    query.SetFieldText(TTableQuery::NameColumn, QString(200, 'x'));
    query.Post();
    EXPECT_EQ(catalogue.scalar("select length(isp) from \"Размеры\" where id=2"), "150");
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
