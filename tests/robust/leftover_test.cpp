// A process killed outright, as ctest kills a test that runs too long, must leave neither its
// private servers nor their folders behind.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace {

// A zombie counts as gone: whoever adopted it may reap it late.
bool Running(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ||
           (line[close + 2] != 'Z' && line[close + 2] != 'X');
}

bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The "name value" lines a process prints, read until every name has come or it ends.
std::map<std::string, std::string> Report(QProcess& process,
                                          std::initializer_list<const char*> names) {
    std::map<std::string, std::string> report;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (report.size() < names.size() && std::chrono::steady_clock::now() < deadline) {
        if (!process.canReadLine() && !process.waitForReadyRead(1000)) {
            if (process.state() == QProcess::NotRunning)
                break;
            continue;
        }
        const std::string line = process.readLine().trimmed().toStdString();
        const auto space = line.find(' ');
        if (space != std::string::npos)
            report[line.substr(0, space)] = line.substr(space + 1);
    }
    return report;
}

// What a failed run left is ended here, so that it does not pile up.
void ExpectGone(long pid, const char* what) {
    EXPECT_TRUE(WaitFor([pid] { return !Running(pid); })) << what << " " << pid << " outlived";
    if (Running(pid))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

void ExpectRemoved(const std::string& folder) {
    const QString path = QString::fromStdString(folder);
    EXPECT_TRUE(WaitFor([&] { return !QFileInfo::exists(path); })) << folder << " outlived";
    QDir(path).removeRecursively();
}

// The holder's own temporary folders: a bus's configuration would be one.
QStringList HolderFolders() {
    return QDir::temp().entryList({QStringLiteral("leftover_holder-*")},
                                  QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace

TEST(Leftovers, KilledHolderLeavesNoCatalogueServerBusNorFolder) {
    const QStringList before = HolderFolders();
    QProcess holder;
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder.start(QStringLiteral(KREPIKS_LEFTOVER_HOLDER));
    auto report = Report(holder, {"postmaster", "bus", "folder"});
    ASSERT_EQ(report.size(), 3u) << "the holder did not start its servers";
    const long postmaster = std::stol(report["postmaster"]);
    const long bus = std::stol(report["bus"]);
    ASSERT_TRUE(Running(postmaster));
    ASSERT_TRUE(Running(bus));
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(report["folder"])));

    holder.kill();
    holder.waitForFinished(30000);
    ExpectGone(postmaster, "postmaster");
    ExpectGone(bus, "dbus-daemon");
    ExpectRemoved(report["folder"]);
    EXPECT_EQ(HolderFolders(), before);
}

TEST(Leftovers, KilledXvfbScriptLeavesNoXServerNorFolder) {
    QProcess script;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KREPIKS_TEST_REAPER"), QStringLiteral(KREPIKS_TEST_REAPER));
    script.setProcessEnvironment(environment);
    script.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    script.start(QStringLiteral(KREPIKS_WITH_XVFB),
                 {QStringLiteral("sh"), QStringLiteral("-c"),
                  QStringLiteral("echo command $$; echo xvfb \"$KREPIKS_XVFB_PID\"; "
                                 "echo folder \"$(dirname \"$XAUTHORITY\")\"; "
                                 "exec sleep 600 >/dev/null 2>&1")});
    auto report = Report(script, {"command", "xvfb", "folder"});
    // The command is not the server's to end: it goes whatever the outcome.
    const long command = report.count("command") ? std::stol(report["command"]) : 0;
    const auto end = qScopeGuard([command] {
        if (command > 0)
            ::kill(static_cast<pid_t>(command), SIGKILL);
    });
    ASSERT_EQ(report.size(), 3u) << "the script did not run its command";
    const long xvfb = std::stol(report["xvfb"]);
    ASSERT_TRUE(Running(xvfb));
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(report["folder"])));

    script.kill();
    ::kill(static_cast<pid_t>(command), SIGKILL);
    script.waitForFinished(30000);
    ExpectGone(xvfb, "Xvfb");
    ExpectRemoved(report["folder"]);
}
