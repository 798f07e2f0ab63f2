// The server program's life: started on creation, reused, found running, quit, killed,
// hung, and the clients that leave it.
#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"
#include "automation/invoke.h"
#include "bus_fixture.h"
#include "test_app.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace automation;
using namespace bustest;
using Clock = std::chrono::steady_clock;

namespace {

class Lifecycle : public BusTest {};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(Lifecycle, CreationStartsOneServerThatLaterCreationsReuse) {
    EXPECT_FALSE(NameOwned());
    DispatchPtr first;
    ASSERT_EQ(Create(&first), S_OK);
    EXPECT_TRUE(NameOwned());
    const int pid = ServerPid(first.get());
    EXPECT_EQ(HelperPids(), std::vector<long>{pid});

    DispatchPtr second;
    ASSERT_EQ(Create(&second), S_OK);
    EXPECT_EQ(second.get(), first.get()) << "the running application, as the same proxy";
    first.reset();
    second.reset();
    DispatchPtr third;
    ASSERT_EQ(Create(&third), S_OK);
    EXPECT_EQ(ServerPid(third.get()), pid);
    EXPECT_EQ(HelperPids().size(), 1u);
}

TEST_F(Lifecycle, AttachingFindsOnlyARunningServer) {
    DispatchPtr app;
    const HRESULT none = Attach(&app);
    EXPECT_EQ(none, MK_E_UNAVAILABLE);
    EXPECT_EQ(OleErrorText(none), "Operation unavailable");
    EXPECT_FALSE(app);
    EXPECT_TRUE(HelperPids().empty()) << "attaching starts nothing";

    DispatchPtr created;
    ASSERT_EQ(Create(&created), S_OK);
    ASSERT_EQ(Attach(&app), S_OK);
    EXPECT_EQ(app.get(), created.get());
}

TEST_F(Lifecycle, QuitEndsTheServerAndTheNextCreationStartsAFreshOne) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    const int pid = ServerPid(app.get());
    Call(app.get(), u"Quit");
    EXPECT_FALSE(NameOwned()) << "the name goes before Quit returns";
    EXPECT_TRUE(WaitFor([pid] { return !ProcessRunning(pid); }));

    const CallOutcome stale = DispatchInvoke(app.get(), u"Value", CallKind::Get, {}, nullptr);
    EXPECT_EQ(stale.code, RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(stale.message, "The RPC server is unavailable");

    DispatchPtr fresh;
    ASSERT_EQ(Create(&fresh), S_OK);
    EXPECT_NE(fresh.get(), app.get());
    EXPECT_NE(ServerPid(fresh.get()), pid);
    EXPECT_EQ(HelperPids().size(), 2u);
}

TEST_F(Lifecycle, AServerKilledMidCallFailsTheCallAtOnceAndTheNextCreationRecovers) {
    // The server, started below, marks when it has the call in hand; it is killed then,
    // however long the call takes to arrive.
    const std::string mark =
        (std::filesystem::temp_directory_path() / ("krepiks-hang-" + std::to_string(::getpid())))
            .string();
    std::filesystem::remove(mark);
    setenv("KREPIKS_TEST_HANG_MARK", mark.c_str(), 1);
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    unsetenv("KREPIKS_TEST_HANG_MARK");
    const int pid = ServerPid(app.get());
    Clock::time_point killed{};
    std::thread killer([&] {
        if (WaitFor([&] { return std::filesystem::exists(mark); }, std::chrono::seconds(60)))
            killed = Clock::now();
        ::kill(pid, SIGKILL);
    });
    const CallOutcome hung = DispatchInvoke(app.get(), u"Hang", CallKind::Method, {}, nullptr);
    killer.join();
    std::filesystem::remove(mark);
    ASSERT_NE(killed, Clock::time_point{}) << "the server never got the call";
    // Well inside the call timeout: the death is noticed, not waited out.
    EXPECT_LT(SecondsSince(killed), 4.0);
    EXPECT_EQ(hung.code, RPC_S_CALL_FAILED);
    EXPECT_EQ(hung.message, "The remote procedure call failed");

    const CallOutcome after = DispatchInvoke(app.get(), u"Value", CallKind::Get, {}, nullptr);
    EXPECT_EQ(after.code, RPC_S_SERVER_UNAVAILABLE);

    DispatchPtr fresh;
    ASSERT_EQ(Create(&fresh), S_OK);
    EXPECT_NE(ServerPid(fresh.get()), pid);
}

TEST_F(Lifecycle, AHangingServerFailsTheCallWithinTheTimeout) {
    bus::SetCallTimeout(std::chrono::milliseconds(600));
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    // The caller's own events wait: nothing of this program runs inside a call.
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    const auto start = Clock::now();
    const CallOutcome hung = DispatchInvoke(app.get(), u"Hang", CallKind::Method, {}, nullptr);
    const double waited = SecondsSince(start);
    EXPECT_EQ(hung.code, RPC_S_CALL_FAILED);
    EXPECT_GE(waited, 0.5);
    EXPECT_LT(waited, 6.0) << "bounded by the timeout set, not the usual 8 s";
    EXPECT_FALSE(fired);
    QCoreApplication::processEvents();
    EXPECT_TRUE(fired);
    // Still hung: the next call does not get through either, in bounded time.
    EXPECT_EQ(DispatchInvoke(app.get(), u"Value", CallKind::Get, {}, nullptr).code,
              RPC_S_CALL_FAILED);
}

TEST_F(Lifecycle, AServerThatCannotStartOrIsLateGivesServerExecutionFailed) {
    bus::SetStartTimeout(std::chrono::milliseconds(500));
    RegisterHelper({"--delay", "5000"});
    DispatchPtr app;
    auto start = Clock::now();
    HRESULT h = Create(&app);
    EXPECT_EQ(h, CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(OleErrorText(h), "Server execution failed");
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_FALSE(app);

    clsid_ = bus::RegisterLocalServer(TestProgId, "/nonexistent/krepiks-cad");
    start = Clock::now();
    EXPECT_EQ(Create(&app), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_LT(SecondsSince(start), 3.0);

    // A program that ends without claiming its name is not waited for.
    bus::SetStartTimeout(std::chrono::seconds(20));
    RegisterHelper({"--bad-argument"});
    start = Clock::now();
    EXPECT_EQ(Create(&app), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_LT(SecondsSince(start), 10.0) << "not the 20 s start timeout";
}

// Reloads the bus's configuration, and so its service files, before the next call.
void ReloadBus() {
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")));
}

// The bus tells the programs it starts which bus that was.
bool StartedByBus(long pid) {
    std::ifstream environ("/proc/" + std::to_string(pid) + "/environ");
    for (std::string entry; std::getline(environ, entry, '\0');)
        if (entry.starts_with("DBUS_STARTER_ADDRESS="))
            return true;
    return false;
}

TEST_F(Lifecycle, TheBusStartsAServerWithAServiceFileAndTheClientOneWithout) {
    const std::string serviceFile =
        ServiceFolder() + "/" + bus::BusNameForProgId(TestProgId).toStdString() + ".service";
    std::ofstream(serviceFile) << "[D-BUS Service]\nName="
                               << bus::BusNameForProgId(TestProgId).toStdString()
                               << "\nExec=" BUS_TEST_SERVER " -Embedding --pid-file " << pidFile_
                               << "\n";
    ReloadBus();
    // The program named here is never started while the bus has the file.
    clsid_ = bus::RegisterBusStartedServer(TestProgId, "/nonexistent/bus_test_server");
    {
        DispatchPtr app;
        ASSERT_EQ(Create(&app), S_OK) << TakeErrorDescription();
        const int pid = ServerPid(app.get());
        EXPECT_TRUE(StartedByBus(pid));
        Call(app.get(), u"Quit");
        EXPECT_TRUE(WaitFor([pid] { return !ProcessRunning(pid); }));
    }

    std::filesystem::remove(serviceFile);
    ReloadBus();
    clsid_ = bus::RegisterBusStartedServer(TestProgId, BUS_TEST_SERVER);
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK) << TakeErrorDescription();
    const int pid = ServerPid(app.get());
    EXPECT_FALSE(StartedByBus(pid)) << "started by the client";
    Call(app.get(), u"Quit");
    EXPECT_TRUE(WaitFor([pid] { return !ProcessRunning(pid); }));
}

// A process id that no process has: one that has just ended.
long EndedPid() {
    QProcess gone;
    gone.start(QStringLiteral("true"));
    gone.waitForStarted();
    const long pid = static_cast<long>(gone.processId());
    gone.waitForFinished();
    return pid;
}

void MakeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    ::close(fd);
}

// In a runtime folder others may write to, a starting server removes what servers that ended
// left there, and nothing it reaches only through somebody's link.
TEST_F(Lifecycle, AStartingServerSweepsOnlyFoldersServersLeftNeverALinksTarget) {
    namespace fs = std::filesystem;
    const fs::path shared = pidFile_ + ".runtime";
    fs::remove_all(shared);
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const fs::path mine = pidFile_ + ".mine";
    fs::remove_all(mine);
    fs::create_directories(mine);
    std::ofstream(mine / "peer") << "a file of the user's own";
    const std::string dead = std::to_string(EndedPid());
    const fs::path planted = shared / ("krepiks-automation-" + dead + "-planted");
    fs::create_directory_symlink(mine, planted);
    // Under root the link is another user's, as it would be in a shared /tmp.
    if (const passwd* nobody = ::getpwnam("nobody"); nobody && ::geteuid() == 0) {
        ASSERT_EQ(::lchown(planted.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const fs::path left = shared / ("krepiks-automation-" + dead + "-AbCdEf");
    fs::create_directory(left);
    fs::permissions(left, fs::perms::owner_all);
    MakeSocket((left / "peer").string());

    const char* before = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = before ? before : "";
    setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);
    DispatchPtr app;
    const HRESULT created = Create(&app);
    if (before)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(created, S_OK);

    EXPECT_TRUE(fs::exists(mine / "peer")) << "removed through the link";
    EXPECT_TRUE(fs::is_symlink(planted)) << "not the server's to remove";
    EXPECT_FALSE(fs::exists(left)) << "an ended server's folder stays";
    Call(app.get(), u"Quit");
    app.reset();
    fs::remove_all(shared);
    fs::remove_all(mine);
}

// A client program holding an application and children.
class HelperClient {
public:
    HelperClient(const std::string& pidFile, int hold, bool leave) {
        QStringList args{QStringLiteral("--client"), QStringLiteral("--pid-file"),
                         QString::fromStdString(pidFile), QStringLiteral("--hold"),
                         QString::number(hold)};
        if (leave)
            args << QStringLiteral("--leave");
        process_.start(QStringLiteral(BUS_TEST_SERVER), args);
    }
    ~HelperClient() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    bool ready() {
        while (process_.canReadLine() || process_.waitForReadyRead(60000))
            if (process_.readLine().trimmed() == "ready")
                return true;
        return false;
    }
    QProcess process_;
};

TEST_F(Lifecycle, AClientThatDiesReleasesEverythingItHeld) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    {
        HelperClient client(pidFile_, 3, false);
        ASSERT_TRUE(client.ready());
        EXPECT_EQ(Call(app.get(), u"LiveChildren", {}, CallKind::Get).intVal(), 3);
        EXPECT_EQ(Call(app.get(), u"HeldHandles", {}, CallKind::Get).intVal(), 5);
        client.process_.kill();
        client.process_.waitForFinished(3000);
    }
    EXPECT_TRUE(
        WaitFor([&] { return Call(app.get(), u"LiveChildren", {}, CallKind::Get).intVal() == 0; }));
    EXPECT_EQ(Call(app.get(), u"HeldHandles", {}, CallKind::Get).intVal(), 1);
}

TEST_F(Lifecycle, AClientThatEndsLeavesTheServerRunningWithItsApplication) {
    int pid = 0;
    {
        HelperClient client(pidFile_, 2, true);
        ASSERT_TRUE(client.ready());
        ASSERT_TRUE(client.process_.waitForFinished(60000));
        EXPECT_EQ(client.process_.exitCode(), 0);
        ASSERT_EQ(HelperPids().size(), 2u); // the client, then the server it started
        pid = static_cast<int>(HelperPids()[1]);
    }
    EXPECT_TRUE(ProcessRunning(pid));
    DispatchPtr app;
    ASSERT_EQ(Attach(&app), S_OK);
    EXPECT_EQ(ServerPid(app.get()), pid);
    EXPECT_TRUE(
        WaitFor([&] { return Call(app.get(), u"LiveChildren", {}, CallKind::Get).intVal() == 0; }));
}

} // namespace
