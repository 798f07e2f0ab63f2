// The windows on a catalogue held by a PostgreSQL server that the user's client settings
// name, with another client changing rows meanwhile and the server dropping the connection.
#include "catalogue/connection_service.h"
#include "design_session.h"
#include "model/bolt.h"
#include "support/private_postgres.h"
#include "table_test_support.h"

#include <QFile>
#include <QLocale>

using namespace krepiks;
using namespace krepiks::test;

namespace {

// The server named as the "krepiks" service of a home folder of the test's own.
struct ServerCatalogue {
    explicit ServerCatalogue(const QString& folder) {
        if (!server.failure().isEmpty())
            return;
        server.createCatalogue();
        server.useAsCatalogue(server.writeHome(folder + QStringLiteral("/home")));
    }
    PrivatePostgres server;
};

class ServerDesign : public DesignWindowTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English)); }
    void TearDown() override {
        DesignWindowTest::TearDown();
        QLocale::setDefault(QLocale::c());
    }
    QTemporaryDir home;
    ServerCatalogue catalogueServer{home.path()};
    const PrivatePostgres& server() const { return catalogueServer.server; }
};

class ServerTable : public TableWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server().failure().isEmpty()) << server().failure().toStdString();
        TableWindowTest::SetUp();
    }
    QTemporaryDir home;
    ServerCatalogue catalogueServer{home.path()};
    const PrivatePostgres& server() const { return catalogueServer.server; }
    QString serverD0(const char* isp) const {
        return server().scalar(
            QStringLiteral("select d0 from Размеры where isp='%1'").arg(QString::fromLatin1(isp)));
    }
};

} // namespace

TEST(CatalogueService, IsFoundWhereLibpqLooksAndOnlyUnderItsOwnName) {
    QTemporaryDir dir;
    const QString home = dir.path() + "/home", system = dir.path() + "/system";
    QDir().mkpath(home);
    QDir().mkpath(system);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("PGSYSCONFDIR", QFile::encodeName(system));
    qunsetenv("PGSERVICEFILE");
    auto write = [](const QString& path, const char* text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    EXPECT_EQ(CatalogueServiceFile(), "");
    write(system + "/pg_service.conf", "[krepiks-test]\nhost=/x\n");
    EXPECT_EQ(CatalogueServiceFile(), "") << "another service's name is not ours";
    write(system + "/pg_service.conf", "[other]\nhost=/x\n  [krepiks] \nhost=/y\n");
    EXPECT_EQ(CatalogueServiceFile(), system + "/pg_service.conf");
    write(home + "/.pg_service.conf", "[krepiks]\ndbname=bolti\n");
    EXPECT_EQ(CatalogueServiceFile(), home + "/.pg_service.conf");
    // PGSERVICEFILE stands in for the one in the home folder.
    qputenv("PGSERVICEFILE", QFile::encodeName(dir.path() + "/elsewhere.conf"));
    EXPECT_EQ(CatalogueServiceFile(), system + "/pg_service.conf");
}

TEST_F(ServerDesign, ListChoiceAndAddUseTheServerNotTheFile) {
    ASSERT_TRUE(server().failure().isEmpty()) << server().failure().toStdString();
    start(TestCatalogue::Contents::EmptyTables);
    EXPECT_EQ(listEntries().size(), 12);
    chooseName("M8x50");
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_DOUBLE_EQ(Bolt.d0, 6.9);
    EXPECT_DOUBLE_EQ(Bolt.e, 14.38);
    EXPECT_EQ(Bolt.TemplatePath, "/tmp/part.kprt");

    clickRadio(form()->RadioButton1);
    typeVariant();
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(server().scalar("select count(*) from Размеры"), "13");
    // D is derived as 0.95 × S in double arithmetic, every bit of it kept.
    EXPECT_EQ(server().scalar("select d0 || ' ' || (d = 0.95 * 18::float8) || ' ' || l2 || ' ' || "
                              "s from Размеры where isp='013'"),
              "10.4 true 35 18");
    EXPECT_EQ(catalogue->rowCount("Размеры"), 0) << "the file is left alone";

    // Another engineer's add took the next name meanwhile: this add takes the one after.
    server().exec("insert into Размеры (isp, d0) values ('014', 1)");
    click(form()->Button1);
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(server().scalar("select count(*) from Размеры where isp='015' and d0=10.4"), "1");
    EXPECT_EQ(server().scalar("select count(distinct isp) from Размеры"), "15");

    typeInto(form()->Edit15, QStringLiteral("/srv/шаблоны/болт.kprt"));
    click(form()->Button4);
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(server().scalar("select path_templete_detal from swApp"), "/srv/шаблоны/болт.kprt");
    EXPECT_EQ(server().scalar("select count(*) from swApp"), "1");
}

TEST_F(ServerDesign, ALostServerFailsOneActionAndTheNextConnectsAgain) {
    ASSERT_TRUE(server().failure().isEmpty()) << server().failure().toStdString();
    start();
    chooseName("M8x50");
    ASSERT_TRUE(effects.boxes().empty());
    server().dropConnections();
    chooseName("M10x60");
    ASSERT_EQ(boxMessages().size(), 1u) << "the general error report";
    EXPECT_FALSE(boxMessages()[0].isEmpty());
    chooseName("M10x60");
    EXPECT_EQ(boxMessages().size(), 1u) << boxMessages().back().toStdString();
    EXPECT_DOUBLE_EQ(Bolt.d0, 8.6);
}

TEST_F(ServerTable, AnEditOrDeleteOfARowChangedMeanwhileIsRefusedAndOverwritesNothing) {
    open();
    query()->MoveTo(1);
    // Someone else corrects M8x50 after this window read it.
    server().exec("update Размеры set d0 = 7.1 where isp = 'M8x50'");
    goToField("d0");
    typeOver("6.5");
    key(Qt::Key_Down);
    ASSERT_EQ(errorBoxes().size(), 1u);
    EXPECT_EQ(errorBoxes()[0].text, "Row cannot be located for updating. Some values may have "
                                    "been changed since it was last read.");
    EXPECT_EQ(serverD0("M8x50"), "7.1");
    EXPECT_EQ(query()->state(), TTableQuery::State::Edit) << "the typed value is not lost";

    // Read again, the other value shows, and a correction over it goes through.
    click("Cancel");
    click("Refresh");
    EXPECT_EQ(cell(1, "d0"), "7.1");
    goToField("d0");
    typeOver("6.5");
    key(Qt::Key_Down);
    EXPECT_EQ(errorBoxes().size(), 1u);
    EXPECT_EQ(serverD0("M8x50"), "6.5");

    // A row removed meanwhile is not silently "deleted" again.
    query()->MoveTo(4);
    server().exec("delete from Размеры where isp = 'M12x70'");
    effects.answerNext(BoxResult::Ok);
    click("Delete");
    ASSERT_EQ(errorBoxes().size(), 2u);
    EXPECT_EQ(errorBoxes()[1].text, errorBoxes()[0].text);
    EXPECT_EQ(server().scalar("select count(*) from Размеры"), "11");
}

TEST_F(ServerTable, AnEmptyCellFilledInIsStored) {
    expectAnEmptyCellFilled({[this](const QString& sql) { server().exec(sql); },
                             [this](const QString& sql) { return server().scalar(sql); }});
}

// Read in batches from the server: the first screen's, then larger ones, to the last row.
TEST_F(ServerTable, ReadingToTheEndBringsEveryRowInOrder) {
    server().exec("insert into Размеры (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) "
                  "select 'X' || n, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e "
                  "from Размеры, generate_series(1, 200) as n");
    const int rows = server().scalar("select count(*) from Размеры").toInt();
    ASSERT_GT(rows, 2400);
    open();
    EXPECT_LT(query()->rowCount(), rows) << "the first screen reads only what it shows";
    query()->Last();
    EXPECT_EQ(query()->RecordCount(), rows);
    EXPECT_EQ(cell(rows - 1, "isp"),
              server().scalar("select isp from Размеры order by id desc limit 1"));
    EXPECT_EQ(cell(256, "isp"),
              server().scalar("select isp from Размеры order by id offset 256 limit 1"));
}
