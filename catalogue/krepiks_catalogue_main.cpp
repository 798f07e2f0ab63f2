// krepiks-catalogue: moves a catalogue between a bolti.mdb file and the office's server,
// the one the "krepiks" connection service names.
//   krepiks-catalogue to-server [FILE]    FILE (default bolti.mdb) into an empty database
//   krepiks-catalogue from-server FILE    the server's catalogue into a new FILE
#include "catalogue/catalogue_copy.h"
#include "catalogue/connection_service.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <libpq-fe.h>

namespace {

constexpr char Usage[] =
    "usage: krepiks-catalogue to-server [FILE]\n"
    "       krepiks-catalogue from-server FILE\n"
    "  to-server copies FILE (default bolti.mdb) into the empty database that the\n"
    "  \"krepiks\" PostgreSQL connection service names; from-server writes that\n"
    "  catalogue into FILE, which must not exist. Both compare every value after the copy.\n";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    const bool toServer = command == QLatin1String("to-server") && arguments.size() <= 2;
    const bool fromServer = command == QLatin1String("from-server") && arguments.size() == 2;
    if (!toServer && !fromServer) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (krepiks::CatalogueServiceFile().isEmpty()) {
        std::fprintf(stderr,
                     "krepiks-catalogue: no PostgreSQL connection service \"%s\" is defined "
                     "(in ~/.pg_service.conf, PGSERVICEFILE or the system pg_service.conf)\n",
                     krepiks::CatalogueService);
        return 1;
    }
    PGconn* server = PQconnectdb((QByteArray("service=") + krepiks::CatalogueService).constData());
    if (PQstatus(server) != CONNECTION_OK) {
        std::fprintf(stderr, "krepiks-catalogue: %s", PQerrorMessage(server));
        PQfinish(server);
        return 1;
    }
    PQsetClientEncoding(server, "UTF8");
    const QString file =
        QFileInfo(arguments.value(1, QStringLiteral("bolti.mdb"))).absoluteFilePath();
    const krepiks::CopyResult result = toServer ? krepiks::CopyFileToServer(file, server)
                                                : krepiks::CopyServerToFile(server, file);
    PQfinish(server);
    std::fprintf(result.ok ? stdout : stderr, "krepiks-catalogue: %s\n",
                 result.message.toUtf8().constData());
    return result.ok ? 0 : 1;
}
