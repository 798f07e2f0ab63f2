// The real krepiks executable started on catalogues it cannot use, with the box answered by
// a person stand-in loaded into the process: the same start-up path as a user's run, with
// the real message box and its own event loop.
#include "support/jet_writer.h"
#include "support/private_postgres.h"
#include "support/test_catalogue.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using krepiks::test::TestCatalogue;

namespace {

struct Outcome {
    bool finished = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int exitCode = -1;
    QString standardError;
    std::vector<QJsonObject> boxes;
};

Outcome RunKrepiksIn(const QString& folder,
                     const std::function<void(QProcessEnvironment&)>& adjust = {}) {
    const QString report = folder + "/../" + QDir(folder).dirName() + ".boxes";
    QFile::remove(report);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LD_PRELOAD", KREPIKS_BOX_ANSWERER);
    env.insert("KREPIKS_BOX_REPORT", report);
    // Under AddressSanitizer the preloaded answerer comes before the sanitizer's runtime.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    if (adjust)
        adjust(env);
    QProcess krepiks;
    krepiks.setProcessEnvironment(env);
    krepiks.setWorkingDirectory(folder);
    krepiks.start(KREPIKS_EXECUTABLE, {});
    Outcome run;
    // A bound for a hung program, not a timing the result depends on.
    run.finished = krepiks.waitForFinished(120000);
    if (!run.finished)
        krepiks.kill();
    krepiks.waitForFinished();
    run.status = krepiks.exitStatus();
    run.exitCode = krepiks.exitCode();
    run.standardError = QString::fromLocal8Bit(krepiks.readAllStandardError());
    QFile lines(report);
    if (lines.open(QIODevice::ReadOnly))
        for (const QByteArray& line : lines.readAll().split('\n'))
            if (!line.isEmpty())
                run.boxes.push_back(QJsonDocument::fromJson(line).object());
    QFile::remove(report);
    return run;
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(StartupProcess, EachUnusableCatalogueShowsTheApplicationErrorAloneAndEndsWithOne) {
    const struct {
        const char* what;
        std::function<void(TestCatalogue&)> spoil;
        QString message; // empty: the file's own path
    } cases[] = {
        {"missing", [](TestCatalogue& c) { QFile::remove(c.file()); }, {}},
        {"a folder in its place",
         [](TestCatalogue& c) {
             QFile::remove(c.file());
             QDir().mkdir(c.file());
         },
         {}},
        {"a text file",
         [](TestCatalogue& c) {
             QFile file(c.file());
             ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
             file.write("isp;d0;d1\nM6;5;6\n");
         },
         "Unrecognized database format"},
        {"an office's Access (Jet 4.0) catalogue",
         [](TestCatalogue& c) {
             QFile file(c.file());
             ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
             file.write(krepiks::test::WriteJet4(
                 {krepiks::test::JetVariantTable({}), krepiks::test::JetTemplateTable("x")}));
         },
         "— файл Microsoft Access (Jet 4.0). Перенесите его в новый файл командой "
         "\"krepiks-catalogue from-jet bolti.mdb bolti-new.mdb\""},
        {"no variant table", [](TestCatalogue& c) { c.exec("drop table \"Размеры\""); },
         "cannot find the input table or query 'Размеры'"},
        {"a dimension held as text",
         [](TestCatalogue& c) {
             c.exec("alter table \"Размеры\" rename column L to old; "
                    "alter table \"Размеры\" add column L varchar(20)");
         },
         "Type mismatch for field 'L'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestCatalogue folder;
        c.spoil(folder);
        const QString message =
            c.message.isEmpty() ? "Could not find file '" + folder.file() + "'." : c.message;
        const QStringList before = Entries(folder.folder());
        const QByteArray bytes = Bytes(folder.file());

        const Outcome run = RunKrepiksIn(folder.folder());
        ASSERT_TRUE(run.finished) << "the program did not end after the box was answered";
        ASSERT_EQ(run.status, QProcess::NormalExit) << run.standardError.toStdString();
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.boxes.size(), 1u) << run.standardError.toStdString();
        const QJsonObject& box = run.boxes[0];
        EXPECT_EQ(box["caption"].toString(), "Application Error");
        EXPECT_EQ(box["icon"].toInt(), 3) << "the error icon";
        EXPECT_EQ(box["buttons"].toArray(), QJsonArray{"OK"});
        EXPECT_TRUE(box["text"].toString().startsWith("Exception EDatabaseError in module krepiks"))
            << box["text"].toString().toStdString();
        EXPECT_TRUE(box["text"].toString().contains(message))
            << box["text"].toString().toStdString();
        // Nothing ran under the box: no splash, no design window, no other box.
        EXPECT_EQ(box["others"].toArray(), QJsonArray{})
            << QJsonDocument(box["others"].toArray()).toJson().toStdString();
        EXPECT_TRUE(run.standardError.contains(message)) << run.standardError.toStdString();
        EXPECT_EQ(Entries(folder.folder()), before);
        EXPECT_EQ(Bytes(folder.file()), bytes);
    }
}

TEST(StartupProcess, AnUnreadableCatalogueIsReportedTheSameWay) {
    if (geteuid() == 0)
        GTEST_SKIP() << "every file is readable to root";
    TestCatalogue folder;
    ASSERT_TRUE(QFile::setPermissions(folder.file(), QFileDevice::Permissions()));
    const Outcome run = RunKrepiksIn(folder.folder());
    QFile::setPermissions(folder.file(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.status, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0]["caption"].toString(), "Application Error");
    EXPECT_EQ(run.boxes[0]["others"].toArray(), QJsonArray{});
}

TEST(StartupProcess, ADisplayThatCannotBeUsedEndsWithOneAndSaysWhy) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    const Outcome run = RunKrepiksIn(folder.folder(), [](QProcessEnvironment& env) {
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", ":64999"); // no server there
        env.remove("WAYLAND_DISPLAY");
    });
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.status, QProcess::NormalExit) << run.standardError.toStdString();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.standardError.contains("could not connect to display"))
        << run.standardError.toStdString();
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(Entries(folder.folder()), QStringList{});
}

TEST(StartupProcess, AnUnusableCatalogueServerIsReportedAsABadFileIs) {
    const krepiks::test::PrivatePostgres server;
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();
    // A bolti.mdb beside the program must not be used instead of the named server.
    TestCatalogue folder;
    const struct {
        const char* what;
        QString serviceLines; // empty: the right server
        QString password;
        QString message;
    } cases[] = {
        {"unreachable", "host=" + folder.folder() + "/nowhere\ndbname=bolti\nuser=krepiks\n",
         server.password(), "No such file or directory"},
        {"wrong password", {}, "not-the-password", "password authentication failed"},
        {"no such database", "host=" + server.socketFolder() + "\ndbname=nosuch\nuser=krepiks\n",
         server.password(), "database \"nosuch\" does not exist"},
        {"tables missing", {}, server.password(), "cannot find the input table or query 'Размеры'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString home = server.writeHome(
            folder.folder() + "/home-" + QString::number(&c - cases), c.serviceLines, c.password);
        const Outcome run = RunKrepiksIn(folder.folder(), [&](QProcessEnvironment& env) {
            // Only the client settings change; the rest (the sanitizer's options) stays.
            const QProcessEnvironment catalogue = server.catalogueEnvironment(home);
            for (const QString& key : env.keys())
                if (key.startsWith("PG"))
                    env.remove(key);
            for (const QString& key : catalogue.keys())
                if (key == "HOME" || key.startsWith("PG"))
                    env.insert(key, catalogue.value(key));
        });
        ASSERT_TRUE(run.finished);
        ASSERT_EQ(run.status, QProcess::NormalExit) << run.standardError.toStdString();
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.boxes.size(), 1u) << run.standardError.toStdString();
        EXPECT_EQ(run.boxes[0]["caption"].toString(), "Application Error");
        EXPECT_TRUE(run.boxes[0]["text"].toString().contains(c.message))
            << run.boxes[0]["text"].toString().toStdString();
    }
}
