#include "bench_server.h"

#include "automation/bus/local_client.h"
#include "automation/bus/local_server.h"
#include "cad/cad_server.h"
#include "model/solidworks.h"
#include "null_server.h"
#include "support/private_bus.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace krepiks::bench {

namespace {

// A server left behind by a run that broke off still ends, later.
constexpr int LifetimeMs = 10 * 60 * 1000;

std::unique_ptr<test::PrivateBus>& Bus() {
    static std::unique_ptr<test::PrivateBus> bus;
    return bus;
}

std::string SelfPath() {
    return QCoreApplication::applicationFilePath().toStdString();
}

} // namespace

std::string ServerKind(int argc, char** argv) {
    const std::string option = ServerOption;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(option, 0) == 0)
            return arg.substr(option.size());
    }
    return {};
}

int RunBenchServer(const std::string& kind, int argc, char** argv) {
    QCoreApplication app(argc, argv);
    automation::ComPtr<NullServer> null;
    if (kind == "null") {
        null = automation::ComPtr<NullServer>(new NullServer);
        automation::RegisterClassObject(SolidWorksProgId, [&null](automation::IDispatch** out) {
            *out = automation::DispatchPtr(null.get()).detach();
            return automation::S_OK;
        });
    } else if (kind == "cad") {
        cad::RegisterCadServer();
    } else {
        std::fprintf(stderr, "krepiks-bench: no server of kind '%s'\n", kind.c_str());
        return 2;
    }
    automation::bus::LocalServer server(SolidWorksProgId);
    server.onBusLost([] { QCoreApplication::quit(); });
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "krepiks-bench: %s\n", error.c_str());
        return 3;
    }
    // Gone from the bus before Quit answers, so that no client reaches a program that ends.
    bool running = false;
    server.afterCall([&] {
        // The stand-in's application has quit once no session runs after one did.
        const bool cadRunning = !null && cad::RunningCadSession() != nullptr;
        const bool quit = null ? null->quitAsked : running && !cadRunning;
        running = running || cadRunning;
        if (quit) {
            server.withdraw();
            QCoreApplication::quit();
        }
    });
    QTimer::singleShot(LifetimeMs, &app, [] { QCoreApplication::quit(); });
    return app.exec();
}

bool StartPrivateBus(std::string* error) {
    if (Bus())
        return Bus()->running();
    Bus() = std::make_unique<test::PrivateBus>();
    return Bus()->start(error);
}

void StopPrivateBus() {
    Bus().reset();
}

void RegisterBenchServer(const std::string& kind) {
    automation::bus::RegisterLocalServer(SolidWorksProgId, SelfPath(),
                                         {"-Embedding", ServerOption + kind});
}

void UnregisterBenchServer() {
    ReleaseSolidWorks();
    automation::UnregisterClassObject(SolidWorksProgId);
}

} // namespace krepiks::bench
