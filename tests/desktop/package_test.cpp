// The Debian package that tools/package.sh made (KREPIKS_DEB names it), taken apart into a
// folder of its own: what it holds, and its programs run from there as installed ones.
#include "automation/bus/protocol.h"
#include "cad/cad_server.h"
#include "clicked_build.h"
#include "support/jet_writer.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using desktoptest::Output;

namespace {

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        deb_ = qEnvironmentVariable("KREPIKS_DEB");
        if (deb_.isEmpty())
            GTEST_SKIP() << "KREPIKS_DEB names no package (tools/package.sh makes one)";
        ASSERT_TRUE(QFile::exists(deb_)) << deb_.toStdString();
        ASSERT_TRUE(work_.isValid());
        root_ = work_.filePath(QStringLiteral("root"));
        Output(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb_, root_});
    }

    QString field(const char* name) const {
        return QString::fromUtf8(Output(QStringLiteral("dpkg-deb"),
                                        {QStringLiteral("-f"), deb_, QLatin1String(name)}))
            .trimmed();
    }

    QString installed(const QString& path) const { return root_ + path; }

    QString read(const QString& path) const {
        QFile file(installed(path));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QString deb_;
    QTemporaryDir work_;
    QString root_;
};

TEST_F(Package, HoldsEveryPartOfAnInstalledKrepiksAndNoPathOfTheBuild) {
    QStringList expected{
        "/usr/bin/krepiks",
        "/usr/bin/krepiks-cad",
        "/usr/bin/krepiks-freecad",
        "/usr/bin/krepiks-catalogue",
        "/usr/bin/krepiks-register-cad",
        "/usr/libexec/krepiks/krepiks-jet-reader",
        "/usr/libexec/krepiks/krepiks-launcher",
        "/usr/share/krepiks/part.kprt",
        "/usr/share/krepiks/sample_catalogue.sql",
        "/usr/share/applications/krepiks.desktop",
        "/usr/share/metainfo/org.krepiks.Krepiks.metainfo.xml",
        "/usr/share/dbus-1/services/org.krepiks.Automation.sldworks_application.service",
        "/usr/share/doc/krepiks/copyright",
    };
    for (const char* size : {"16", "22", "24", "32", "48", "64", "128", "256"})
        expected << QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/krepiks.png").arg(size);
    for (const char* command :
         {"krepiks", "krepiks-cad", "krepiks-freecad", "krepiks-catalogue", "krepiks-register-cad"})
        expected << QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(command);
    for (const QString& path : expected)
        EXPECT_TRUE(QFileInfo(installed(path)).isFile()) << path.toStdString();
    for (const QString& program : expected.filter(QRegularExpression("/(bin|libexec)/")))
        EXPECT_TRUE(QFileInfo(installed(program)).isExecutable()) << program.toStdString();

    // Dependencies come from what the programs link; FreeCAD is only suggested.
    const QString depends = field("Depends");
    for (const char* library : {"libqt6widgets6", "libqt6dbus6", "libocct-foundation-7.", "libmdb3",
                                "libqt6svg6", "fonts-osifont"})
        EXPECT_TRUE(depends.contains(QLatin1String(library))) << depends.toStdString();
    EXPECT_FALSE(depends.contains(QLatin1String("freecad")));
    EXPECT_TRUE((field("Recommends") + field("Suggests")).contains(QLatin1String("freecad")));

    // The bus's service file names the CAD program for the name it claims.
    const QString service =
        read("/usr/share/dbus-1/services/org.krepiks.Automation.sldworks_application.service");
    EXPECT_TRUE(service.contains(
        "Name=" + automation::bus::BusNameForProgId(krepiks::cad::CadProgId) + "\n"))
        << service.toStdString();
    EXPECT_TRUE(service.contains(QLatin1String("Exec=/usr/bin/krepiks-cad -Embedding\n")));
    EXPECT_TRUE(read("/usr/share/applications/krepiks.desktop")
                    .contains(QLatin1String("Exec=/usr/libexec/krepiks/krepiks-launcher\n")));

    // Nothing refers to the machine it was built on.
    const QByteArray source = QByteArrayLiteral(KREPIKS_SOURCE_DIR);
    QDirIterator files(root_, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(file.readAll().contains(source)) << file.fileName().toStdString();
    }
}

// The release this runs on must offer what the package asks for: a package made on another
// release names libraries by that release's names (Debian 13's "t64" ones, OpenCASCADE's
// version), which apt here would find only as a name another package provides, or not at
// all. Every library named must be a package of its own with a version to install; of other
// alternatives, one must be such a package or provided by one.
TEST_F(Package, EveryPackageItDependsOnIsOfferedByThisRelease) {
    QList<QStringList> groups;
    QStringList names;
    for (const char* relation : {"Depends", "Recommends", "Suggests"}) {
        for (const QString& group : field(relation).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            QStringList alternatives;
            for (QString name : group.split(QLatin1Char('|'))) {
                name = name.section(QLatin1Char('('), 0, 0).section(QLatin1Char(':'), 0, 0);
                alternatives << name.trimmed();
            }
            groups << alternatives;
            names << alternatives;
        }
    }
    ASSERT_GT(groups.size(), 5);

    // apt-cache policy: a block per package it knows, with its candidate for installing.
    QSet<QString> offered;
    QString package;
    const QString policy = QString::fromUtf8(
        Output(QStringLiteral("apt-cache"), QStringList{QStringLiteral("policy")} + names));
    for (const QString& line : policy.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char(' ')) && line.endsWith(QLatin1Char(':')))
            package = line.chopped(1).section(QLatin1Char(':'), 0, 0);
        const QString candidate = line.trimmed();
        if (candidate.startsWith(QLatin1String("Candidate: ")) &&
            candidate != QLatin1String("Candidate: (none)"))
            offered.insert(package);
    }
    // apt-cache showpkg: a virtual name is offered where some package provides it.
    QSet<QString> provided;
    bool providers = false;
    const QString packages = QString::fromUtf8(
        Output(QStringLiteral("apt-cache"), QStringList{QStringLiteral("showpkg")} + names));
    for (const QString& line : packages.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Package: ")))
            package = line.mid(9).trimmed().section(QLatin1Char(':'), 0, 0);
        if (line.isEmpty() || line.endsWith(QLatin1Char(':')) || line.contains(QLatin1String(": ")))
            providers = line.startsWith(QLatin1String("Reverse Provides:"));
        else if (providers)
            provided.insert(package);
    }
    for (const QStringList& alternatives : groups) {
        bool any = false;
        for (const QString& name : alternatives) {
            any = any || offered.contains(name) || provided.contains(name);
            if (name.startsWith(QLatin1String("lib"))) {
                EXPECT_TRUE(offered.contains(name)) << "not offered here: " << name.toStdString();
            }
        }
        EXPECT_TRUE(any) << "none offered here: " << alternatives.join(" | ").toStdString();
    }
}

TEST_F(Package, ItsProgramsBuildTheBoltFromTheMenuLauncherAndCopyACatalogue) {
    const QString usr = installed(QStringLiteral("/usr"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KREPIKS_PREFIX"), usr);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), work_.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), work_.filePath(QStringLiteral("config")));

    // The first start from the menu makes the catalogue folder with the sample catalogue.
    const desktoptest::ClickedBuild run = desktoptest::RunClickedBuild(
        usr + "/libexec/krepiks/krepiks-launcher", work_.path(), environment);
    ASSERT_TRUE(run.finished) << run.standardError.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_TRUE(run.report.value("built").toBool())
        << QJsonDocument(run.report).toJson().toStdString() << run.standardError.toStdString();
    EXPECT_EQ(run.report.value("cadProgram").toString(), usr + "/bin/krepiks-cad");
    ASSERT_EQ(run.trace.size(), 350) << run.standardError.toStdString();
    EXPECT_TRUE(run.trace[0].contains(QLatin1String("\"member\": \"Visible\"")));
    EXPECT_TRUE(run.trace[1].contains("\"value\": \"" + usr + "/share/krepiks/part.kprt\""))
        << run.trace[1].toStdString();
    for (const QString& line : run.trace)
        EXPECT_FALSE(line.contains(QLatin1String("\"error\""))) << line.toStdString();

    // Never over a catalogue that is there.
    const QString catalogue = work_.filePath(QStringLiteral("data/krepiks/bolti.mdb"));
    QFile made(catalogue);
    ASSERT_TRUE(made.open(QIODevice::ReadOnly));
    const QByteArray before = made.readAll();
    made.close();
    QProcess again;
    again.setProcessEnvironment(environment);
    again.start(usr + "/bin/krepiks-catalogue", {QStringLiteral("sample"), catalogue});
    ASSERT_TRUE(again.waitForFinished(60000));
    EXPECT_EQ(again.exitCode(), 1);
    ASSERT_TRUE(made.open(QIODevice::ReadOnly));
    EXPECT_EQ(made.readAll(), before);

    // The drawing of a variant of that catalogue, in its folder.
    QProcess drawing;
    drawing.setProcessEnvironment(environment);
    drawing.setWorkingDirectory(QFileInfo(catalogue).path());
    drawing.start(
        usr + "/bin/krepiks-catalogue",
        {QStringLiteral("drawing"), QStringLiteral("M6x40"), work_.filePath("M6x40.pdf")});
    ASSERT_TRUE(drawing.waitForFinished(60000));
    EXPECT_EQ(drawing.exitCode(), 0) << drawing.readAllStandardError().toStdString();
    EXPECT_TRUE(QFileInfo(work_.filePath("M6x40.pdf")).size() > 0);

    // The copy command reads an Access file with its installed helper.
    QFile jet(work_.filePath(QStringLiteral("old.mdb")));
    ASSERT_TRUE(jet.open(QIODevice::WriteOnly));
    jet.write(krepiks::test::WriteJet4(
        {krepiks::test::JetVariantTable({{"M6x30", 5.0, 6.0, 4.2, 9.5, 0.25, 4.0, 30.0, 15.0, 3.0,
                                          30.0, 45.0, 45.0, 10.0, 11.05}}),
         krepiks::test::JetTemplateTable("C:\\Шаблоны\\Деталь.prtdot")}));
    jet.close();
    const QByteArray copied = Output(
        usr + "/bin/krepiks-catalogue",
        {QStringLiteral("from-jet"), jet.fileName(), work_.filePath(QStringLiteral("new.mdb"))},
        environment);
    EXPECT_TRUE(copied.contains("Крепикс может открыть")) << copied.toStdString();
}

} // namespace
