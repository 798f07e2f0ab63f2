// Reading the catalogue: refilling the design window's variant list, and opening the table
// window until its grid paints, both against a bare SQLite read of the same names.
#include "bench_support.h"
#include "catalogue/data_controls.h"
#include "catalogue/table_query.h"
#include "catalogue/unit2.h"
#include "design/unit4.h"
#include "ratio_reporter.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace krepiks::bench {

namespace {

constexpr int Sizes[] = {1000, 10000, 100000};

// The working folder of the program is the catalogue's folder for as long as this lives.
class InFolder {
public:
    explicit InFolder(const QString& folder) : previous_(QDir::currentPath()) {
        QDir::setCurrent(folder);
    }
    ~InFolder() { QDir::setCurrent(previous_); }

private:
    QString previous_;
};

void FlushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

void FillVariantList(benchmark::State& state, const TimedRun& reference) {
    const int variants = static_cast<int>(state.range(0));
    const InFolder folder(CatalogueFolder(variants));
    auto* window = new TForm4();
    Form4 = window;
    // Shown and activated, so the list is the one a person would drop down.
    window->show();
    ProcessUntil([window, variants] { return window->ComboBox1->count() == variants; });
    const auto refill = [&](double* seconds, std::string* error) {
        const auto start = Clock::now();
        window->FillVariantList();
        *seconds = SecondsSince(start);
        if (window->ComboBox1->count() == variants)
            return true;
        *error = "the list does not hold every variant";
        return false;
    };
    Pairs pairs;
    for (auto _ : state)
        if (!pairs.run(state, refill, reference))
            break;
    pairs.report(state);
    Form4 = nullptr;
    delete window;
    FlushDeletes();
}

TableWindowTurn::TableWindowTurn(const QString& folder)
    : folder_(folder), design_(nullptr), table_(nullptr) {
    const InFolder in(folder_);
    design_ = new TForm4();
    Form4 = design_;
    table_ = new TForm2();
    grid_ = std::make_unique<PaintWatch>(table_->DBGrid1->viewport());
}

TableWindowTurn::~TableWindowTurn() {
    grid_.reset();
    Form2 = nullptr;
    delete table_;
    Form4 = nullptr;
    delete design_;
    FlushDeletes();
}

bool TableWindowTurn::open(double* seconds, std::string* error) {
    const InFolder in(folder_);
    Form4 = design_;
    Form2 = table_;
    grid_->reset();
    const auto start = Clock::now();
    // As the menu opens it, without blocking in a modal loop of its own.
    table_->show();
    const bool painted = grid_->wait();
    *seconds = SecondsSince(start);
    rowsRead_ = table_->ADOQuery1->rowCount();
    table_->hide();
    QCoreApplication::processEvents();
    if (!painted)
        *error = "the grid never painted";
    return painted;
}

int TableWindowTurn::rowsRead() const {
    return rowsRead_;
}

void OpenTableWindow(benchmark::State& state) {
    const int variants = static_cast<int>(state.range(0));
    TableWindowTurn turn(CatalogueFolder(variants));
    for (auto _ : state) {
        double seconds = 0;
        std::string error;
        const bool opened = turn.open(&seconds, &error);
        state.SetIterationTime(seconds);
        if (!opened) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    const int rowsRead = turn.rowsRead();
    state.counters["rows_read"] = rowsRead;
    if (rowsRead == 0 || (variants > 1000 && rowsRead >= variants))
        state.SkipWithError("the grid read every row before its first screen");
}

namespace {

// The isp column of the catalogue of that many variants, once per run.
TimedRun SqliteNames(int variants) {
    return [file = CatalogueFile(CatalogueFolder(variants)), variants](double* seconds,
                                                                       std::string* error) {
        std::size_t bytes = 0;
        const auto start = Clock::now();
        const int read = ReadNamesWithSqlite(file, &bytes);
        *seconds = SecondsSince(start);
        benchmark::DoNotOptimize(bytes);
        if (read == variants)
            return true;
        *error = "the floor read the wrong number of names";
        return false;
    };
}

void SqliteFloor(benchmark::State& state) {
    const int variants = static_cast<int>(state.range(0));
    const QString file = CatalogueFile(CatalogueFolder(variants));
    std::size_t bytes = 0;
    for (auto _ : state) {
        if (ReadNamesWithSqlite(file, &bytes) != variants) {
            state.SkipWithError("the floor read the wrong number of names");
            return;
        }
    }
    benchmark::DoNotOptimize(bytes);
}

// The SQLite C API alone running the refill's own statement, every column read once.
TimedRun SqliteRows(int variants) {
    return [file = CatalogueFile(CatalogueFolder(variants)), variants](double* seconds,
                                                                       std::string* error) {
        std::size_t bytes = 0;
        const auto start = Clock::now();
        const int read = ReadRowsWithSqlite(file, "select * from  Размеры order by id;", &bytes);
        *seconds = SecondsSince(start);
        benchmark::DoNotOptimize(bytes);
        if (read == variants)
            return true;
        *error = "the engine read the wrong number of rows";
        return false;
    };
}

void Register() {
    for (int variants : Sizes) {
        benchmark::RegisterBenchmark("variant_list/paired",
                                     [](benchmark::State& state) {
                                         FillVariantList(
                                             state, SqliteNames(static_cast<int>(state.range(0))));
                                     })
            ->Arg(variants)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        benchmark::RegisterBenchmark("variant_list_engine/paired",
                                     [](benchmark::State& state) {
                                         FillVariantList(
                                             state, SqliteRows(static_cast<int>(state.range(0))));
                                     })
            ->Arg(variants)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        SetReference("variant_list_engine/" + std::to_string(variants), "engine");
    }
    for (int variants : Sizes) {
        benchmark::RegisterBenchmark("table_window/program", OpenTableWindow)
            ->Arg(variants)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        benchmark::RegisterBenchmark("table_window/floor", SqliteFloor)
            ->Arg(variants)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    SetTarget("variant_list/100000", 2.0);
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
