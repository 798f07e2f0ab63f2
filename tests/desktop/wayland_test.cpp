// A Wayland session as Debian's GNOME desktop gives one: a compositor with XWayland for X11
// programs, and no platform named for Qt. Krepiks's windows go to Wayland, and the CAD
// window still shows the part in 3D.
#include "clicked_build.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(WaylandSession, KrepiksRunsOnWaylandAndTheCadWindowShowsThePartThroughXWayland) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) << "run under with_weston.sh";
    const QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString catalogue = folder.filePath(QStringLiteral("bolti.mdb"));
    desktoptest::Output(QStringLiteral(KREPIKS_CATALOGUE_TOOL),
                        {QStringLiteral("sample"), catalogue});

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       folder.filePath(QStringLiteral("config")));
    const desktoptest::ClickedBuild run = desktoptest::RunClickedBuild(
        QStringLiteral(KREPIKS_EXECUTABLE), folder.path(), environment);
    ASSERT_TRUE(run.finished) << run.standardError.toStdString();
    const std::string report = QJsonDocument(run.report).toJson().toStdString();
    EXPECT_EQ(run.report.value("platform_krepiks").toString(), "wayland") << report;
    EXPECT_TRUE(run.report.value("built").toBool()) << report << run.standardError.toStdString();
    EXPECT_TRUE(run.report.value("shown").toBool()) << report;
    EXPECT_EQ(run.report.value("platform").toString(), "xcb") << report;
    EXPECT_TRUE(run.report.value("threeD").toBool()) << report;
    EXPECT_EQ(run.trace.size(), 350);
}
