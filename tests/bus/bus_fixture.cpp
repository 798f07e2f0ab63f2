#include "bus_fixture.h"

#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"
#include "automation/invoke.h"
#include "test_app.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace bustest {

using namespace automation;

std::string& PrivateBusAddress() {
    static std::string address;
    return address;
}

std::string& ServiceFolder() {
    static std::string folder;
    return folder;
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool ProcessRunning(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ||
           (line[close + 2] != 'Z' && line[close + 2] != 'X');
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

Variant Call(IDispatch* object, const std::u16string& member, std::vector<Variant> args,
             CallKind kind) {
    Variant result;
    const CallOutcome outcome = DispatchInvoke(object, member, kind, args, &result);
    EXPECT_TRUE(outcome.ok()) << toUtf8(member) << ": " << outcome.message;
    return result;
}

void BusTest::SetUp() {
    if (PrivateBusAddress().empty())
        GTEST_SKIP() << "no private session bus: dbus-daemon (package dbus) could not start";
    pidFile_ = (std::filesystem::temp_directory_path() /
                ("krepiks-bus-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pids"))
                   .string();
    std::filesystem::remove(pidFile_);
    bus::SetCallTimeout(bus::DefaultCallTimeout);
    bus::SetStartTimeout(bus::DefaultStartTimeout);
    RegisterHelper();
}

void BusTest::TearDown() {
    if (pidFile_.empty())
        return;
    for (long pid : HelperPids())
        if (ProcessRunning(pid))
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    for (long pid : HelperPids())
        EXPECT_TRUE(WaitFor([pid] { return !ProcessRunning(pid); })) << "helper " << pid;
    EXPECT_TRUE(WaitFor([this] { return !NameOwned(); }));
    std::filesystem::remove(pidFile_);
    UnregisterClassObject(TestProgId);
}

void BusTest::RegisterHelper(std::vector<std::string> extra) {
    std::vector<std::string> args{"-Embedding", "--pid-file", pidFile_};
    args.insert(args.end(), extra.begin(), extra.end());
    clsid_ = bus::RegisterLocalServer(TestProgId, BUS_TEST_SERVER, args);
}

HRESULT BusTest::Create(DispatchPtr* app) {
    return CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                            app->put());
}

HRESULT BusTest::Attach(DispatchPtr* app) {
    return GetActiveObject(clsid_, nullptr, app->put());
}

bool BusTest::NameOwned() const {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(
        bus::BusNameForProgId(TestProgId));
}

std::vector<long> BusTest::HelperPids() const {
    std::vector<long> pids;
    std::ifstream in(pidFile_);
    for (long pid; in >> pid;)
        pids.push_back(pid);
    return pids;
}

int BusTest::ServerPid(IDispatch* app) {
    return Call(app, u"ProcessId", {}, CallKind::Get).intVal();
}

} // namespace bustest
