#pragma once
// A real krepiks process (or the launcher that starts it) building a bolt, clicked through
// by the build clicker loaded into it; the CAD program it started is ended afterwards.
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace desktoptest {

struct ClickedBuild {
    bool finished = false;
    int exitCode = -1;
    QJsonObject report; // the clicker's: variant, built, shown, platform, threeD, cadProgram...
    QStringList trace;  // the build's automation calls, one per line
    QString standardError;
};

ClickedBuild RunClickedBuild(const QString& program, const QString& folder,
                             QProcessEnvironment environment);

// The output of a command that must succeed; empty, with a test failure, otherwise.
QByteArray
Output(const QString& program, const QStringList& arguments,
       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

} // namespace desktoptest
