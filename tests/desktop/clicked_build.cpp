#include "clicked_build.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace desktoptest {

namespace {

bool Running(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() ||
           (line[close + 2] != 'Z' && line[close + 2] != 'X');
}

// The CAD program outlives Krepiks, as it does for a person; the test must not.
void End(qint64 pid) {
    if (pid <= 0 || !Running(pid))
        return;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Running(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Running(pid))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

} // namespace

ClickedBuild RunClickedBuild(const QString& program, const QString& folder,
                             QProcessEnvironment environment) {
    ClickedBuild run;
    const QTemporaryDir records;
    const QString report = records.filePath(QStringLiteral("report.json"));
    const QString trace = records.filePath(QStringLiteral("trace.jsonl"));
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KREPIKS_BUILD_CLICKER));
    // A sanitizer build would refuse the clicker ahead of its own runtime.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) +
                           QStringLiteral(":verify_asan_link_order=0"));
    environment.insert(QStringLiteral("KREPIKS_CLICKER_REPORT"), report);
    environment.insert(QStringLiteral("KREPIKS_AUTOMATION_TRACE"), trace);
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    QProcess krepiks;
    krepiks.setProcessEnvironment(environment);
    krepiks.setWorkingDirectory(folder);
    krepiks.start(program, {});
    run.finished = krepiks.waitForFinished(240000);
    if (!run.finished)
        krepiks.kill();
    krepiks.waitForFinished();
    run.exitCode = krepiks.exitStatus() == QProcess::NormalExit ? krepiks.exitCode() : -1;
    run.standardError = QString::fromLocal8Bit(krepiks.readAllStandardError());
    QFile reported(report);
    if (reported.open(QIODevice::ReadOnly))
        run.report = QJsonDocument::fromJson(reported.readAll()).object();
    QFile traced(trace);
    if (traced.open(QIODevice::ReadOnly))
        run.trace =
            QString::fromUtf8(traced.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    End(run.report.value(QStringLiteral("cadPid")).toInteger());
    return run;
}

QByteArray Output(const QString& program, const QStringList& arguments,
                  const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(300000);
    const QByteArray output = process.readAllStandardOutput();
    const QByteArray errors = process.readAllStandardError();
    const bool ok =
        finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    EXPECT_TRUE(ok) << program.toStdString() << " " << arguments.join(' ').toStdString() << ": "
                    << errors.toStdString();
    return ok ? output : QByteArray();
}

} // namespace desktoptest
