// The catalogue exported as a parts library by krepiks-catalogue export on both cores, STEP
// only and STEP with the PDF drawing, against the same variants built by the kernel alone,
// one after another, in one process.
#include "bench_support.h"
#include "ratio_reporter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdexcept>

namespace krepiks::bench {

namespace {

// The sample's twelve variants in ten lengths each, in a folder of their own.
QString ExportCatalogueFolder() {
    static const QString folder = [] {
        const QString made = QDir(SampleCatalogueFolder()).filePath(QStringLiteral("export-120"));
        QDir().mkpath(made);
        if (!QFile::copy(CatalogueFile(SampleCatalogueFolder()), CatalogueFile(made)))
            throw std::runtime_error("cannot copy the sample catalogue");
        sqlite3* db = nullptr;
        sqlite3_open(CatalogueFile(made).toUtf8().constData(), &db);
        const char* more =
            "with recursive n(step) as (select 1 union all select step + 1 from n where step < 9) "
            "insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) "
            "select isp || '-' || step, d0, d1, d2, D, R, K, L + 10 * step, (L + 10 * step) / 2.0, "
            "(L + 10 * step) / 10.0, a, b, c, S, e from \"Размеры\", n";
        const int code = sqlite3_exec(db, more, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        if (code != SQLITE_OK)
            throw std::runtime_error("cannot make the export catalogue");
        return made;
    }();
    return folder;
}

std::vector<TBolt> Variants(const QString& folder) {
    std::vector<TBolt> bolts;
    sqlite3* db = nullptr;
    sqlite3_open_v2(CatalogueFile(folder).toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db,
                       "select d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e from \"Размеры\" "
                       "order by id",
                       -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW) {
        TBolt bolt;
        double* fields[] = {&bolt.d0, &bolt.d1, &bolt.d2, &bolt.D, &bolt.R, &bolt.K, &bolt.L,
                            &bolt.L2, &bolt.L3, &bolt.a,  &bolt.b, &bolt.c, &bolt.S, &bolt.e};
        for (int i = 0; i < 14; ++i)
            *fields[i] = sqlite3_column_double(select, i);
        bolts.push_back(bolt);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return bolts;
}

void ExportAgainstKernel(benchmark::State& state, const QStringList& formats) {
    const QString folder = ExportCatalogueFolder();
    const std::vector<TBolt> bolts = Variants(folder);
    if (bolts.size() != 120) {
        state.SkipWithError("the export catalogue does not hold 120 variants");
        return;
    }
    const QString library = QDir(folder).filePath(QStringLiteral("library"));
    const auto exportRun = [&](double* seconds, std::string* error) {
        QDir(library).removeRecursively();
        QProcess run;
        run.setWorkingDirectory(folder);
        run.setProcessChannelMode(QProcess::MergedChannels);
        const auto start = Clock::now();
        run.start(QStringLiteral(KREPIKS_CATALOGUE_PROGRAM),
                  {"export", library, "--formats", formats.join(','), "--jobs", "2"});
        const bool finished = run.waitForFinished(600000);
        *seconds = SecondsSince(start);
        const QByteArray output = run.readAll();
        const qsizetype files = QDir(library).entryList(QDir::Files).size() - 1; // the index
        if (!finished || run.exitCode() != 0 || files != 120 * formats.size()) {
            *error = "the export failed: " + output.right(400).toStdString();
            return false;
        }
        return true;
    };
    Pairs pairs;
    for (auto _ : state)
        if (!pairs.run(state, exportRun, KernelBolts(bolts)))
            break;
    pairs.report(state);
    QDir(library).removeRecursively();
}

void Register() {
    benchmark::RegisterBenchmark("export/120/paired", ExportAgainstKernel, QStringList{"step"})
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(5);
    SetTarget("export/120", 0.7);
    benchmark::RegisterBenchmark("export_pdf/120/paired", ExportAgainstKernel,
                                 QStringList{"step", "pdf"})
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(5);
    SetTarget("export_pdf/120", 2.0);
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
