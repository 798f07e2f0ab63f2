#include "automation/bus/server_start.h"

#include "automation/bus/channel.h"
#include "automation/bus/client_state.h"
#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"

#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace automation::bus::client {

namespace {

using Clock = std::chrono::steady_clock;

// A started process that has ended (or is a zombie) no longer runs.
bool ProcessRunning(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return ::kill(static_cast<pid_t>(pid), 0) == 0;
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return true;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

// Why program cannot be started at all; empty when it is an absolute path to an executable
// file. A relative path would run from wherever the client happens to be.
std::string ProgramProblem(const QString& program) {
    const std::string path = program.toStdString();
    if (!program.startsWith(QLatin1Char('/')))
        return "'" + path + "' is not an absolute path";
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0)
        return "'" + path + "': " + std::strerror(errno);
    if (!S_ISREG(entry.st_mode))
        return "'" + path + "' is not a program file";
    if (::access(path.c_str(), X_OK) != 0)
        return "'" + path + "' is not executable";
    return {};
}

std::string ReadReport(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096).trimmed().toStdString();
}

bool BusCanStart(const QDBusConnection& connection, const QString& busName) {
    const Answer names = Call(
        connection, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"), {}, "as");
    return names.failure == S_OK && names.arguments[0].toStringList().contains(busName);
}

// Has the session bus start the server from its service file; the server's unique name,
// or empty, with the bus's reason, when it did not get it started in time.
QString StartByBus(const QDBusConnection& connection, const Registration& server,
                   std::string* why) {
    const QDBusMessage reply = connection.call(
        MethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                   QStringLiteral("org.freedesktop.DBus"), QStringLiteral("StartServiceByName"),
                   {server.busName, 0u}),
        QDBus::Block, TimeoutMs(StartTimeout()));
    if (reply.type() == QDBusMessage::ReplyMessage) {
        if (const QString owner = OwnerOf(connection, server.busName); !owner.isEmpty())
            return owner;
    }
    *why = "the session bus did not start '" + server.program.toStdString() + "' for " +
           server.progId +
           (reply.type() == QDBusMessage::ErrorMessage ? ": " + reply.errorMessage().toStdString()
                                                       : std::string());
    return {};
}

} // namespace

QString Launch(const QDBusConnection& connection, const Registration& server, std::string* why) {
    if (server.busStarted && BusCanStart(connection, server.busName))
        return StartByBus(connection, server, why);
    const std::string program = server.program.toStdString();
    if (const std::string problem = ProgramProblem(server.program); !problem.empty()) {
        *why = server.registeredIn.isEmpty()
                   ? problem
                   : "bad registration " + server.registeredIn.toStdString() + ": " + problem +
                         "; expected the absolute path of a program";
        return {};
    }
    // A private file the program writes why it gave up into, should it end before serving.
    const QTemporaryDir reportFolder(QDir::tempPath() + QStringLiteral("/krepiks-start-XXXXXX"));
    const QString report = reportFolder.filePath(QStringLiteral("report"));
    QProcess process;
    process.setProgram(server.program);
    process.setArguments(server.arguments);
    if (reportFolder.isValid() && QFile(report).open(QIODevice::WriteOnly)) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(StartReportVariable), report);
        process.setProcessEnvironment(environment);
    }
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        *why = "'" + program + "' could not be started: " + process.errorString().toStdString();
        return {};
    }
    const auto deadline = Clock::now() + StartTimeout();
    for (;;) {
        const QString owner = OwnerOf(connection, server.busName);
        if (!owner.isEmpty())
            return owner;
        if (Clock::now() >= deadline) {
            *why = "'" + program + "' did not serve " + server.progId + " within " +
                   QString::number(StartTimeout().count() / 1000.0).toStdString() + " s";
            return {};
        }
        if (pid > 0 && !ProcessRunning(pid)) { // it ended; perhaps another copy won the name
            const QString winner = OwnerOf(connection, server.busName);
            if (winner.isEmpty()) {
                const std::string said = ReadReport(report);
                *why = "'" + program + "' ended before it served " + server.progId +
                       (said.empty() ? "" : ": " + said);
            }
            return winner;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace automation::bus::client
