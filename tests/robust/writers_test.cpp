// Whole Krepiks processes writing one catalogue at once, and one killed while it writes.
#include "catalogue_rows.h"
#include "person.h"
#include "support/private_postgres.h"
#include "support/test_catalogue.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

using namespace krepiks::test;

namespace {

constexpr int SampleRows = 12;

void StartWriter(
    QProcess& process, const TestCatalogue& folder, int firstKey, int count,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral(KREPIKS_CATALOGUE_WRITER));
    process.setArguments({folder.folder(), QString::number(firstKey), QString::number(count)});
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start();
}

// d0 of every row the writer reported as stored.
std::vector<double> PostedD0(const QByteArray& output) {
    static const QRegularExpression posted(QStringLiteral("^posted (\\S+) (\\S+)$"),
                                           QRegularExpression::MultilineOption);
    std::vector<double> values;
    auto it = posted.globalMatch(QString::fromUtf8(output));
    while (it.hasNext())
        values.push_back(it.next().captured(2).toDouble());
    return values;
}

// The name of every row the writer reported as stored.
QStringList PostedNames(const QByteArray& output) {
    static const QRegularExpression posted(QStringLiteral("^posted (\\S+) \\S+$"),
                                           QRegularExpression::MultilineOption);
    QStringList names;
    auto it = posted.globalMatch(QString::fromUtf8(output));
    while (it.hasNext())
        names << it.next().captured(1);
    return names;
}

// Two writers adding perWriter variants each at once, from keys 10000 and 20000; both must
// end well having stored all of theirs. The names they reported go to *names.
void RunTwoWriters(const TestCatalogue& folder, int perWriter,
                   const QProcessEnvironment& environment, QStringList* names) {
    QProcess first, second;
    StartWriter(first, folder, 10000, perWriter, environment);
    StartWriter(second, folder, 20000, perWriter, environment);
    ASSERT_TRUE(first.waitForStarted() && second.waitForStarted());
    // Bounds for a hung writer, not timings the result depends on.
    ASSERT_TRUE(first.waitForFinished(300000));
    ASSERT_TRUE(second.waitForFinished(300000));
    const QByteArray out1 = first.readAllStandardOutput();
    const QByteArray out2 = second.readAllStandardOutput();
    EXPECT_EQ(first.exitCode(), 0)
        << out1.toStdString() << first.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitCode(), 0) << out2.toStdString();
    EXPECT_EQ(PostedD0(out1).size(), std::size_t(perWriter));
    EXPECT_EQ(PostedD0(out2).size(), std::size_t(perWriter));
    *names = PostedNames(out1) + PostedNames(out2);
}

} // namespace

TEST(TwoWriters, EachStoresAllItsVariantsAndTheFileStaysSound) {
    TestCatalogue folder;
    constexpr int PerWriter = 200;
    QStringList names;
    RunTwoWriters(folder, PerWriter, QProcessEnvironment::systemEnvironment(), &names);
    if (HasFatalFailure())
        return;

    EXPECT_EQ(IntegrityCheck(folder.file()), "ok");
    EXPECT_EQ(folder.rowCount("Размеры"), SampleRows + 2 * PerWriter);
    // Adding at the same moment, each still took a name nobody else had.
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 2 * PerWriter);
    EXPECT_EQ(folder.scalar("select count(distinct isp) from \"Размеры\""),
              QString::number(SampleRows + 2 * PerWriter));
    const auto rows = RowsByD0(folder.file());
    for (int i = 0; i < PerWriter; ++i) {
        ExpectStoredVariant(rows, 10000 + i);
        ExpectStoredVariant(rows, 20000 + i);
    }
}

TEST(KilledWriter, LeavesASoundFileWithEveryRowItReportedStored) {
    TestCatalogue folder;
    QProcess writer;
    StartWriter(writer, folder, 30000, 500);
    ASSERT_TRUE(writer.waitForStarted());
    QByteArray output;
    // Killed in the middle of its adds, whatever statement it is in.
    while (PostedD0(output).size() < 25 && writer.state() == QProcess::Running) {
        writer.waitForReadyRead(60000);
        output += writer.readAllStandardOutput();
    }
    writer.kill();
    ASSERT_TRUE(writer.waitForFinished(60000));
    EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit);
    output += writer.readAllStandardOutput();
    const std::vector<double> posted = PostedD0(output);
    ASSERT_GE(posted.size(), 25u);
    ASSERT_LT(posted.size(), 500u) << "the writer finished before it was killed";

    EXPECT_EQ(IntegrityCheck(folder.file()), "ok");
    const auto rows = RowsByD0(folder.file());
    for (std::size_t i = 0; i < posted.size(); ++i) {
        EXPECT_EQ(posted[i], VariantValues::ForKey(30000 + int(i)).d0);
        ExpectStoredVariant(rows, 30000 + int(i));
    }
    // At most the row in flight when it died came on top, whole or not at all.
    const int stored = folder.rowCount("Размеры") - SampleRows;
    EXPECT_GE(stored, int(posted.size()));
    EXPECT_LE(stored, int(posted.size()) + 1);
    if (stored > int(posted.size()))
        ExpectStoredVariant(rows, 30000 + int(posted.size()));
}

TEST(TwoWritersOnTheServer, EachStoresAllItsVariantsUnderNamesTheServerKeepsDistinct) {
    const PrivatePostgres server;
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();
    server.createCatalogue();
    // The folder's own bolti.mdb stays untouched: the service names the catalogue.
    TestCatalogue folder;
    const QProcessEnvironment environment =
        server.catalogueEnvironment(server.writeHome(folder.folder() + "/home"));
    constexpr int PerWriter = 200;
    QStringList names;
    RunTwoWriters(folder, PerWriter, environment, &names);
    if (HasFatalFailure())
        return;

    EXPECT_EQ(folder.rowCount("Размеры"), SampleRows);
    EXPECT_EQ(server.scalar("select count(*) from Размеры"),
              QString::number(SampleRows + 2 * PerWriter));
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 2 * PerWriter);
    EXPECT_EQ(server.scalar("select count(distinct isp) from Размеры"),
              QString::number(SampleRows + 2 * PerWriter));
    const auto rows = ServerRowsByD0(server.conninfo());
    for (int i = 0; i < PerWriter; ++i) {
        ExpectStoredVariant(rows, 10000 + i);
        ExpectStoredVariant(rows, 20000 + i);
    }
}
