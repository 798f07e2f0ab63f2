// The catalogue on a PostgreSQL server of the run's own, on this machine's Unix socket:
// refilling the variant list against libpq alone running the same statement, and the table
// window's first screen against the same window on the file.
#include "bench_support.h"
#include "catalogue/catalogue_copy.h"
#include "ratio_reporter.h"
#include "support/private_postgres.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <memory>

namespace krepiks::bench {

namespace {

constexpr int Variants = 100000;

// The server, holding a copy of the file catalogue of Variants rows, and a home folder whose
// client settings name it; made on first use.
struct Server {
    test::PrivatePostgres postgres;
    QTemporaryDir home;
    QString failure;

    Server() {
        failure = postgres.failure();
        if (!failure.isEmpty())
            return;
        postgres.writeHome(home.path());
        PGconn* connection = PQconnectdb(postgres.conninfo().toUtf8().constData());
        const CopyResult copied =
            CopyFileToServer(CatalogueFile(CatalogueFolder(Variants)), connection);
        PQfinish(connection);
        if (!copied.ok)
            failure = copied.message;
    }
};

Server& TheServer() {
    static Server server;
    return server;
}

// This process's libpq settings name the server while it lives.
class OnServer {
public:
    OnServer() : home_(qgetenv("HOME")), sysconf_(qgetenv("PGSYSCONFDIR")) {
        TheServer().postgres.useAsCatalogue(TheServer().home.path());
    }
    ~OnServer() {
        qputenv("HOME", home_);
        if (sysconf_.isEmpty())
            qunsetenv("PGSYSCONFDIR");
        else
            qputenv("PGSYSCONFDIR", sysconf_);
    }

private:
    QByteArray home_, sysconf_;
};

bool Ready(benchmark::State& state) {
    if (!TheServer().failure.isEmpty()) {
        state.SkipWithError(TheServer().failure.toStdString().c_str());
        return false;
    }
    return true;
}

// libpq alone: the refill's statement on an open connection, every column of every row read;
// false when it read the wrong number of rows.
bool LibpqRead(PGconn* connection, std::size_t* bytes) {
    PGresult* result = PQexec(connection, "select * from  Размеры order by id;");
    const int rows = PQntuples(result);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < PQnfields(result); ++c)
            *bytes += std::strlen(PQgetvalue(result, r, c));
    PQclear(result);
    return rows == Variants;
}

// The refill on the server in turns with libpq alone.
void ServerList(benchmark::State& state) {
    if (!Ready(state))
        return;
    const OnServer server;
    PGconn* connection = PQconnectdb(TheServer().postgres.conninfo().toUtf8().constData());
    std::size_t bytes = 0;
    FillVariantList(state, [&](double* seconds, std::string* error) {
        const auto start = Clock::now();
        const bool read = LibpqRead(connection, &bytes);
        *seconds = SecondsSince(start);
        if (!read)
            *error = "libpq read the wrong number of rows";
        return read;
    });
    benchmark::DoNotOptimize(bytes);
    PQfinish(connection);
}

// The table window on the server in turns with the same window on the file.
void ServerTableWindow(benchmark::State& state) {
    if (!Ready(state))
        return;
    std::unique_ptr<TableWindowTurn> server;
    {
        const OnServer settings;
        server = std::make_unique<TableWindowTurn>(CatalogueFolder(Variants));
    }
    TableWindowTurn file(CatalogueFolder(Variants));
    const auto onServer = [&](double* seconds, std::string* error) {
        return server->open(seconds, error);
    };
    const auto onFile = [&](double* seconds, std::string* error) {
        return file.open(seconds, error);
    };
    Pairs pairs;
    for (auto _ : state)
        if (!pairs.run(state, onServer, onFile))
            break;
    pairs.report(state);
    const int rowsRead = server->rowsRead();
    state.counters["rows_read"] = rowsRead;
    if (rowsRead == 0 || rowsRead >= Variants)
        state.SkipWithError("the grid read every row before its first screen");
}

void Register() {
    benchmark::RegisterBenchmark("server_list/paired", ServerList)
        ->Arg(Variants)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(15);
    benchmark::RegisterBenchmark("server_table_window/paired", ServerTableWindow)
        ->Arg(Variants)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(40);
    SetTarget("server_list/100000", 1.5);
    SetTarget("server_table_window/100000", 1.0);
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
