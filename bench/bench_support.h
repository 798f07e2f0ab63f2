#pragma once
#include <benchmark/benchmark.h>
// What the benchmarks share: generated catalogues in a temporary folder, the SQLite floor,
// an effects seam that never blocks, and waiting for a widget's first paint.
#include "model/bolt.h"
#include "platform/ui_effects.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace benchmark {
class State;
}

namespace krepiks {
class TForm2;
class TForm4;
} // namespace krepiks

namespace krepiks::bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The M12x70 of the sample catalogue, with the shipped part template.
TBolt SampleBolt();

// A folder holding a bolti.mdb with this many generated variants (and the shipped part
// template as the template path), made on first use and removed when the run ends.
QString CatalogueFolder(int variants);
// A folder holding the sample catalogue the program ships with.
QString SampleCatalogueFolder();
// The file inside such a folder.
QString CatalogueFile(const QString& folder);

// The floor: the isp column of every variant, in id order, through the SQLite C API alone,
// opening and closing the file as a refill does. Returns the number of names read; adds
// their bytes to *bytes so the reading cannot be optimised away.
int ReadNamesWithSqlite(const QString& file, std::size_t* bytes);

// The engine alone doing what a refill asks of it: the program's own statement, every
// column of every row read once. Returns the number of rows.
int ReadRowsWithSqlite(const QString& file, const char* statement, std::size_t* bytes);

// The design window's refill of its list, and the table window's opening until its grid
// paints, on the catalogue in CatalogueFolder(state.range(0)), or on the server when the
// user's client settings name one.
// The refill is timed in turns with reference (see Pairs).
void FillVariantList(benchmark::State& state,
                     const std::function<bool(double* seconds, std::string* error)>& reference);
void OpenTableWindow(benchmark::State& state);

// Answers every box with its first button and keeps the last text, so a benchmark that
// meets an error box can report it instead of blocking on it.
class QuietEffects : public UiEffects {
public:
    QuietEffects();
    ~QuietEffects() override;
    BoxResult messageBox(const MessageBoxRequest& request) override;
    void beep() override {}
    void setWaitCursor() override {}
    void restoreCursor() override {}
    void setFocus(QWidget* widget) override;
    bool openUrl(const QUrl&) override { return true; }

    int boxes = 0;
    QString lastText;

private:
    UiEffects* previous_;
};

// Watches a widget and its children for paint events; make it before the widget is shown.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget);
    // Processes events until the widget has been painted or the timeout passes.
    bool wait(int timeoutMs = 5000);
    bool painted() const { return painted_; }
    void reset() { painted_ = false; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> widget_; // may go before the watch
    bool painted_ = false;
};

// The table window of a design window of its own, on the catalogue its connection opened
// when made (the file in folder, or the server the client settings name then), opened as
// the menu opens it until its grid has painted.
class TableWindowTurn {
public:
    explicit TableWindowTurn(const QString& folder);
    ~TableWindowTurn();
    TableWindowTurn(const TableWindowTurn&) = delete;
    TableWindowTurn& operator=(const TableWindowTurn&) = delete;

    // One opening; false, with why, when the grid never painted.
    bool open(double* seconds, std::string* error);
    int rowsRead() const;

private:
    QString folder_;
    TForm4* design_;
    TForm2* table_;
    std::unique_ptr<PaintWatch> grid_;
    int rowsRead_ = 0; // by the last opening's first screen
};

// The floor of a build: the bolt made by direct OpenCASCADE calls in one function, once per
// iteration, or once per call of the run it returns.
void KernelFloor(benchmark::State& state);
std::function<bool(double* seconds, std::string* error)> KernelBolt();
// The same for each of bolts, one after another.
std::function<bool(double* seconds, std::string* error)> KernelBolts(std::vector<TBolt> bolts);

// Processes events until done() holds or the timeout passes.
bool ProcessUntil(const std::function<bool()>& done, int timeoutMs = 5000);

} // namespace krepiks::bench
