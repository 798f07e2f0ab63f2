// The CAD stand-in served over the bus, as a separate program would serve it.
//   cad_bus_server [-Embedding] [--pid-file F] [--status S]
//       serves "SldWorks.Application"; appends its process id to F; writes the number of
//       documents of the running application to S whenever it changes; ends when the
//       application quits.
//   cad_bus_server --build --pid-file F --status S
//       a client like the program: builds the worked-example bolt through the bus (starting
//       the server with F and S), releases its reference and ends.
#include "automation/bus/local_client.h"
#include "automation/bus/local_server.h"
#include "cad/cad_server.h"
#include "model/solidworks.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int LifetimeMs = 120000;

krepiks::TBolt WorkedExample() {
    krepiks::TBolt bolt;
    bolt.isp = "worked";
    bolt.d0 = 10, bolt.d1 = 12, bolt.d2 = 8, bolt.K = 7.5, bolt.L = 60;
    bolt.L2 = 30, bolt.L3 = 6, bolt.b = 50, bolt.c = 45, bolt.e = 20;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    return bolt;
}

int Build(const std::string& self, const std::string& pidFile, const std::string& status) {
    automation::bus::RegisterLocalServer(krepiks::SolidWorksProgId, self,
                                         {"-Embedding", "--pid-file", pidFile, "--status", status});
    krepiks::TBolt bolt = WorkedExample();
    try {
        krepiks::BuildModel(bolt);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cad_bus_server: %s\n", error.what());
        return 1;
    }
    krepiks::ReleaseSolidWorks();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string pidFile, status;
    bool build = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--build")
            build = true;
        else if (arg == "--pid-file" && i + 1 < argc)
            pidFile = argv[++i];
        else if (arg == "--status" && i + 1 < argc)
            status = argv[++i];
        else if (arg != "-Embedding")
            return 2;
    }
    if (!pidFile.empty())
        std::ofstream(pidFile, std::ios::app) << getpid() << '\n';
    if (build)
        return Build(QCoreApplication::applicationFilePath().toStdString(), pidFile, status);

    krepiks::cad::RegisterCadServer();
    automation::bus::LocalServer server(krepiks::cad::CadProgId);
    server.onBusLost([] { QCoreApplication::quit(); });
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "cad_bus_server: %s\n", error.c_str());
        return 3;
    }
    // The program ends with its application, as a CAD program does on Quit; the name goes
    // before Quit's answer, so the next creation starts a fresh program.
    bool seen = false;
    server.afterCall([&] {
        if (krepiks::cad::RunningCadSession())
            seen = true;
        else if (seen) {
            seen = false;
            server.withdraw();
            QCoreApplication::quit();
        }
    });
    long written = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto session = krepiks::cad::RunningCadSession();
        const long documents = session ? static_cast<long>(session->documents().size()) : 0;
        if (!status.empty() && documents != written) {
            std::ofstream(status + ".new", std::ios::trunc) << documents << '\n';
            std::rename((status + ".new").c_str(), status.c_str());
            written = documents;
        }
    });
    watch.start(20);
    QTimer::singleShot(LifetimeMs, &app, [] { QCoreApplication::quit(); });
    return app.exec();
}
