// The bus tests' helper program.
//   bus_test_server [--pid-file F] [--delay MS] [--second] [-Embedding]
//       serves the test application on the session bus; appends its process id to F first
//       and waits MS milliseconds before claiming the bus name. With --second it serves
//       SecondProgId instead of TestProgId.
//   bus_test_server --client [--pid-file F] [--hold N] [--leave]
//       a client that creates the application through the bus, takes N children, says
//       "ready" on its standard output and then waits to be killed (or, with --leave, ends).
#include "automation/bus/local_client.h"
#include "automation/bus/local_server.h"
#include "automation/invoke.h"
#include "test_app.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace automation;

namespace {

// Lingering helpers end by themselves even when a test forgot them.
constexpr int LifetimeMs = 120000;

int RunClient(const std::string& self, const std::string& pidFile, int hold, bool leave) {
    bus::RegisterLocalServer(bustest::TestProgId, self, {"--pid-file", pidFile});
    CLSID clsid;
    DispatchPtr app;
    if (FAILED(CLSIDFromProgID(bustest::TestProgId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, app.put())))
        return 4;
    std::vector<Variant> children(static_cast<size_t>(hold));
    for (auto& child : children)
        if (!DispatchInvoke(app.get(), u"MakeChild", CallKind::Method, {}, &child).ok())
            return 5;
    std::printf("ready\n");
    std::fflush(stdout);
    if (leave)
        return 0;
    for (int waited = 0; waited < LifetimeMs; waited += 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string pidFile;
    bool client = false, leave = false, second = false;
    int hold = 0, delayMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--client")
            client = true;
        else if (arg == "--leave")
            leave = true;
        else if (arg == "--second")
            second = true;
        else if (arg == "--pid-file" && hasValue)
            pidFile = argv[++i];
        else if (arg == "--hold" && hasValue)
            hold = std::stoi(argv[++i]);
        else if (arg == "--delay" && hasValue)
            delayMs = std::stoi(argv[++i]);
        else if (arg != "-Embedding")
            return 2;
    }
    if (!pidFile.empty())
        std::ofstream(pidFile, std::ios::app) << getpid() << '\n';
    if (client)
        return RunClient(QCoreApplication::applicationFilePath().toStdString(), pidFile, hold,
                         leave);

    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    const std::u16string progId = second ? bustest::SecondProgId : bustest::TestProgId;
    bus::LocalServer* server = nullptr;
    int served = 0;
    bustest::RegisterTestServer({[&] {
                                     server->withdraw();
                                     QCoreApplication::quit();
                                 },
                                 [&] { return static_cast<int>(server->handleCount()); },
                                 [&] { return served; }},
                                progId);
    bus::LocalServer localServer(progId);
    server = &localServer;
    localServer.afterCall([&] { ++served; });
    localServer.onBusLost([] { QCoreApplication::quit(); });
    std::string error;
    if (!localServer.start(&error)) {
        std::fprintf(stderr, "bus_test_server: %s\n", error.c_str());
        return 3;
    }
    QTimer::singleShot(LifetimeMs, &app, [] { QCoreApplication::quit(); });
    return app.exec();
}
