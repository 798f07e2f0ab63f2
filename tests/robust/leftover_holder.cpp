// Holds a private catalogue server and a private bus until it is killed, and says what they
// are: the process that leftover_test kills outright.
#include "support/private_bus.h"
#include "support/private_postgres.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    krepiks::test::PrivatePostgres server;
    if (!server.failure().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.failure()));
        return 1;
    }
    krepiks::test::PrivateBus bus;
    std::string error;
    if (!bus.start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    QFile pidFile(server.socketFolder() + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return 1;
    std::printf("postmaster %s\nbus %lld\nfolder %s\n", pidFile.readLine().trimmed().constData(),
                static_cast<long long>(bus.pid()), qPrintable(server.socketFolder()));
    std::fflush(stdout);
    for (;;)
        pause();
}
