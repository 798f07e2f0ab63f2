#include "catalogue/database.h"
#include "platform/exception.h"
#include "support/test_catalogue.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace krepiks;
using krepiks::test::TestCatalogue;

TEST(ConnectionString, DataSourceAndEmptyValues) {
    const QString cs = QString::fromUtf8(AdoConnectionString);
    EXPECT_EQ(connectionStringValue(cs, QStringLiteral("Data Source")), "bolti.mdb");
    EXPECT_EQ(connectionStringValue(cs, QStringLiteral("data source")), "bolti.mdb");
    EXPECT_EQ(connectionStringValue(cs, QStringLiteral("Provider")), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(connectionStringValue(cs, QStringLiteral("Jet OLEDB:Engine Type")), "5");
    EXPECT_EQ(connectionStringValue(cs, QStringLiteral("Extended Properties")), "");
    EXPECT_TRUE(cs.startsWith("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source="));
}

TEST(Connection, MissingFileFailsAndCreatesNothing) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    TADOConnection connection;
    try {
        connection.Open();
        FAIL() << "opened a missing file";
    } catch (const EDatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("Could not find file"), std::string::npos);
    }
    EXPECT_FALSE(QFileInfo::exists(folder.file()));
    EXPECT_FALSE(connection.Connected());
}

TEST(Connection, ForeignFileIsRefusedAndLeftUntouched) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    QByteArray jet(4096, '\0');
    jet.replace(0, 19, QByteArray("\x00\x01\x00\x00Standard Jet DB", 19));
    {
        QFile file(folder.file());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(jet);
    }
    TADOConnection connection;
    EXPECT_THROW(connection.Open(), EDatabaseError);
    QFile file(folder.file());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), jet);
    EXPECT_FALSE(QFileInfo::exists(folder.file() + "-journal"));
}

TEST(Query, StatementsReachTheEngineVerbatimAndRowsReadInIdOrder) {
    TestCatalogue folder;
    TADOConnection connection;
    QStringList seen;
    connection.onStatement = [&](const QString& s) { seen << s; };
    TADOQuery query(&connection);
    query.Issue(QStringLiteral("select * from  Размеры order by id;"));
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0], QStringLiteral("select * from  Размеры order by id;"));
    ASSERT_EQ(query.RecordCount(), 12);
    query.First();
    EXPECT_EQ(query.FieldAsString("isp"), "M6x40");
    query.Next();
    EXPECT_EQ(query.FieldAsString("ISP"), "M8x50");
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("s"), 13.0);
    EXPECT_DOUBLE_EQ(query.FieldAsFloat("S"), 13.0);
}

TEST(Query, EmptyResultReadsZerosAndNullReadsZero) {
    TestCatalogue folder;
    folder.exec("insert into \"Размеры\" (isp) values ('blank')");
    TADOConnection connection;
    TADOQuery query(&connection);
    query.Issue("select * from  Размеры where isp=?", {QStringLiteral("nothing")});
    EXPECT_EQ(query.RecordCount(), 0);
    EXPECT_EQ(query.FieldAsFloat("d0"), 0.0);
    EXPECT_EQ(query.FieldAsString("isp"), "");
    query.Issue("select * from  Размеры where isp=?", {QStringLiteral("blank")});
    ASSERT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(query.FieldAsFloat("d0"), 0.0);
    EXPECT_THROW(query.FieldAsFloat("nosuchcolumn"), EDatabaseError);
}

TEST(Query, AppendPostWritesTheRowAndClosingDropsAnUnpostedOne) {
    TestCatalogue folder;
    TADOConnection connection;
    TADOQuery query(&connection);
    query.Issue("select * from  Размеры order by id;");
    query.Append();
    query.SetField("isp", "013");
    query.SetField("s", 11.5);
    query.Post();
    EXPECT_EQ(folder.rowCount("Размеры"), 13);
    EXPECT_EQ(folder.scalar("select S from \"Размеры\" where isp='013'"), "11.5");

    query.Append();
    query.SetField("isp", "lost");
    query.Close();
    EXPECT_EQ(folder.rowCount("Размеры"), 13);
}

TEST(Query, EditOnEmptyTableStartsTheFirstRow) {
    TestCatalogue folder(TestCatalogue::Contents::EmptyTables);
    TADOConnection connection;
    TADOQuery query(&connection);
    query.Issue("select * from  swApp order by id_swApp;");
    query.First();
    query.Edit();
    query.SetField("path_templete_detal", "/x/y.kprt");
    query.Post();
    EXPECT_EQ(folder.scalar("select path_templete_detal from swApp"), "/x/y.kprt");
    query.First();
    query.Edit();
    query.SetField("path_templete_detal", "");
    query.Post();
    EXPECT_EQ(folder.rowCount("swApp"), 1);
    EXPECT_EQ(folder.scalar("select path_templete_detal from swApp"), "");
}

TEST(Query, ClosingTheConnectionClosesItsQueries) {
    TestCatalogue folder;
    TADOConnection connection;
    TADOQuery query(&connection);
    query.Issue("select * from  Размеры order by id;");
    ASSERT_TRUE(query.Active());
    connection.Close();
    EXPECT_FALSE(query.Active());
}

TEST(Query, MissingTableGivesTheProviderText) {
    TestCatalogue folder;
    folder.exec("drop table \"Размеры\"");
    TADOConnection connection;
    TADOQuery query(&connection);
    try {
        query.Issue("select * from Размеры order by id;");
        FAIL();
    } catch (const EDatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot find the input table or query 'Размеры'"),
                  std::string::npos)
            << error.what();
    }
}
