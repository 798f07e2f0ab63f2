// krepiks-catalogue as an administrator runs it: a bolti.mdb into an empty server database,
// the server's catalogue out into a new file, and the refusals that keep what exists.
#include "support/private_postgres.h"
#include "support/test_catalogue.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace krepiks::test;

namespace {

struct CommandRun {
    int exitCode = -1;
    QString output;
};

CommandRun RunCopy(const QProcessEnvironment& environment, const QStringList& arguments) {
    QProcess command;
    command.setProcessEnvironment(environment);
    command.setProcessChannelMode(QProcess::MergedChannels);
    command.start(QStringLiteral(KREPIKS_CATALOGUE_COMMAND), arguments);
    const bool finished = command.waitForFinished(120000); // a bound for a hang only
    return {finished && command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1,
            QString::fromUtf8(command.readAll())};
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(CatalogueCopy, IntoAnEmptyServerAndBackOutKeepingEveryValueAndOverwritingNothing) {
    const PrivatePostgres server;
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();
    TestCatalogue folder;
    folder.exec("insert into \"Размеры\" (isp, d0, d1, R) values ('tab\there', 0.1, 1e300, null)");
    folder.exec("delete from \"Размеры\" where isp = 'M10x60'");
    const QProcessEnvironment environment =
        server.catalogueEnvironment(server.writeHome(folder.folder() + "/home"));

    const CommandRun in = RunCopy(environment, {"to-server", folder.file()});
    ASSERT_EQ(in.exitCode, 0) << in.output.toStdString();
    EXPECT_TRUE(in.output.contains("«Размеры» (строк: 12)")) << in.output.toStdString();
    EXPECT_EQ(server.scalar("select count(*) from Размеры"), "12");
    // Keys as in the file (one was deleted there), values to the last bit, no value kept empty.
    EXPECT_EQ(server.scalar("select string_agg(id::text, ',' order by id) from Размеры"),
              "1,2,4,5,6,7,8,9,10,11,12,13");
    EXPECT_EQ(server.scalar("select (d0 = 0.1::float8 and d1 = 1e300::float8 and r is null)::text "
                            "from Размеры where isp = E'tab\\there'"),
              "true");
    EXPECT_EQ(server.scalar("select path_templete_detal from swApp"), "/tmp/part.kprt");
    server.exec("insert into Размеры (isp) values ('later')");
    EXPECT_EQ(server.scalar("select id from Размеры where isp = 'later'"), "14")
        << "new rows take keys after the copied ones";

    // A second copy finds the tables there and changes nothing.
    const CommandRun again = RunCopy(environment, {"to-server", folder.file()});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.output.contains("уже есть таблица")) << again.output.toStdString();
    EXPECT_EQ(server.scalar("select count(*) from Размеры"), "13");

    const QString copy = folder.folder() + "/copy/bolti.mdb";
    QDir().mkpath(folder.folder() + "/copy");
    const CommandRun out = RunCopy(environment, {"from-server", copy});
    ASSERT_EQ(out.exitCode, 0) << out.output.toStdString();
    const QByteArray written = Bytes(copy);
    ASSERT_FALSE(written.isEmpty());
    const CommandRun overwrite = RunCopy(environment, {"from-server", copy});
    EXPECT_EQ(overwrite.exitCode, 1);
    EXPECT_TRUE(overwrite.output.contains("уже существует")) << overwrite.output.toStdString();
    EXPECT_EQ(Bytes(copy), written);

    // The written file is a catalogue the program reads: same rows, same values.
    QFile::remove(folder.file());
    QFile::rename(copy, folder.file());
    EXPECT_EQ(folder.rowCount("Размеры"), 13);
    EXPECT_EQ(folder.scalar("select d1 = 1e300 and R is null from \"Размеры\" where "
                            "isp = 'tab' || char(9) || 'here'"),
              "1");
    EXPECT_EQ(folder.scalar("select max(id) from \"Размеры\""), "14");
    EXPECT_EQ(folder.scalar("select path_templete_detal from swApp"), "/tmp/part.kprt");
}

TEST(CatalogueCopy, AFileTheServerCannotHoldLeavesTheServerEmpty) {
    const PrivatePostgres server;
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();
    TestCatalogue folder;
    folder.exec("update \"Размеры\" set d0 = 'wide' where isp = 'M8x50'");
    const QProcessEnvironment environment =
        server.catalogueEnvironment(server.writeHome(folder.folder() + "/home"));
    const CommandRun run = RunCopy(environment, {"to-server", folder.file()});
    EXPECT_EQ(run.exitCode, 1) << run.output.toStdString();
    EXPECT_EQ(server.scalar("select count(*) from pg_tables where schemaname = 'public'"), "0");

    QProcessEnvironment noService = environment;
    noService.insert("HOME", folder.folder());
    const CommandRun unnamed = RunCopy(noService, {"to-server", folder.file()});
    EXPECT_EQ(unnamed.exitCode, 1);
    EXPECT_TRUE(unnamed.output.contains("служба подключения PostgreSQL «krepiks» не задана"))
        << unnamed.output.toStdString();
}
