// The query's snapshot as it is read from the engine: values and their kinds, what it keeps
// apart from later changes of the file, statements it refuses, and rows removed from it.
#include "catalogue/database.h"
#include "platform/exception.h"
#include "support/test_catalogue.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace krepiks;
using krepiks::test::TestCatalogue;

TEST(Snapshot, ValuesKeepTheKindsTheDriverGivesAndChangesAfterOpeningStayOut) {
    TestCatalogue folder;
    folder.exec("update \"Размеры\" set R = null where isp = 'M8x50'");
    TADOConnection connection;
    TADOQuery query(&connection);
    query.Issue("select * from  Размеры order by id;");
    folder.exec("delete from \"Размеры\" where isp = 'M6x40'");
    folder.exec("insert into \"Размеры\" (isp) values ('later')");

    ASSERT_EQ(query.RecordCount(), 12);
    EXPECT_EQ(query.FieldValue("id").typeId(), QMetaType::LongLong);
    EXPECT_EQ(query.FieldValue("isp").typeId(), QMetaType::QString);
    EXPECT_EQ(query.FieldValue("d0").typeId(), QMetaType::Double);
    EXPECT_EQ(query.FieldAsString("isp"), "M6x40") << "a row deleted since is still there";
    query.Next();
    EXPECT_TRUE(query.FieldValue("R").isNull());
    EXPECT_EQ(query.FieldAsFloat("R"), 0.0);
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("K"), 5.3);
    QStringList names;
    for (query.First(); !query.Eof(); query.Next())
        names << query.FieldAsString("isp");
    EXPECT_EQ(names.size(), 12);
    EXPECT_EQ(names.back(), "M24x130");
    EXPECT_FALSE(names.contains("later"));

    query.Issue("select * from  Размеры order by id;");
    EXPECT_EQ(query.RecordCount(), 12) << "one gone, one added";
    EXPECT_EQ(query.FieldAsString("isp"), "M8x50");
}

TEST(Snapshot, ASecondStatementOrAMissingValueIsRefusedAndNothingRuns) {
    TestCatalogue folder;
    TADOConnection connection;
    TADOQuery query(&connection);
    try {
        query.Issue("select * from  Размеры; delete from \"Размеры\"");
        FAIL() << "two statements were accepted";
    } catch (const EDatabaseError& error) {
        EXPECT_STREQ(error.what(), "Unable to execute multiple statements at a time");
    }
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(folder.rowCount("Размеры"), 12);
    EXPECT_THROW(query.Issue("select * from  Размеры where isp=?"), EDatabaseError);
    EXPECT_THROW(query.Issue("select * from  Размеры where isp=?", {"a", "b"}), EDatabaseError);
    EXPECT_FALSE(query.Active());
    // A name with an apostrophe is only a name when it is bound.
    query.Issue("select * from  Размеры where isp=?", {QStringLiteral("O'Brien")});
    EXPECT_EQ(query.RecordCount(), 0);
}

TEST(Snapshot, DeletingAndEditingRowsKeepsTheOthersInPlace) {
    TestCatalogue folder;
    TADOConnection connection;
    TADOQuery query(&connection);
    query.Issue("select * from  Размеры order by id;");
    query.Next();
    query.Delete();
    EXPECT_EQ(folder.rowCount("Размеры"), 11);
    ASSERT_EQ(query.RecordCount(), 11);
    EXPECT_EQ(query.FieldAsString("isp"), "M10x60");
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("d0"), 8.6);

    query.Edit();
    query.SetField("d0", 8.5);
    query.Post();
    EXPECT_EQ(folder.scalar("select d0 from \"Размеры\" where isp='M10x60'"), "8.5");
    query.Next();
    EXPECT_EQ(query.FieldAsString("isp"), "M10x80");
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("d0"), 8.6);
    query.First();
    EXPECT_EQ(query.FieldAsString("isp"), "M6x40");
    query.Next();
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("d0"), 8.5);

    // Another table through the same query: no value of the last one is left over.
    query.Issue("select * from  swApp order by id_swApp;");
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(query.FieldAsString("path_templete_detal"), "/tmp/part.kprt");
    EXPECT_THROW(query.FieldAsString("isp"), EDatabaseError);
}

TEST(Snapshot, ARowThatCannotBeReadFailsTheOpeningInsteadOfCuttingTheListShort) {
    TestCatalogue folder;
    folder.exec("with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000) "
                "insert into \"Размеры\" (isp, d0) select 'v' || i, i from n");
    {
        // A leaf page of the variants in the middle of the file, the schema left intact.
        QFile file(folder.file());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_GT(file.size(), 4096 * 20);
        ASSERT_TRUE(file.seek(4096 * 15));
        file.write(QByteArray(4096, '\xff'));
    }
    TADOConnection connection;
    TADOQuery query(&connection);
    EXPECT_THROW(query.Issue("select * from  Размеры order by id;"), EDatabaseError);
    EXPECT_FALSE(query.Active());
}
