#include "bench_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
#include <string>

namespace krepiks::bench {

namespace {

QTemporaryDir& Scratch() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/krepiks-bench-XXXXXX"));
    if (!dir.isValid())
        throw std::runtime_error("no temporary folder for the catalogues");
    return dir;
}

struct Db {
    sqlite3* handle = nullptr;
    explicit Db(const QString& path) {
        if (sqlite3_open(path.toUtf8().constData(), &handle) != SQLITE_OK)
            throw std::runtime_error("cannot create " + path.toStdString());
    }
    ~Db() { sqlite3_close(handle); }
    void exec(const std::string& sql) const {
        char* error = nullptr;
        if (sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error ? error : "sqlite error";
            sqlite3_free(error);
            throw std::runtime_error(message);
        }
    }
};

QString SampleScript() {
    QFile file(QStringLiteral(KREPIKS_SAMPLE_CATALOGUE));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("sample catalogue script missing");
    QString script = QString::fromUtf8(file.readAll());
    script.replace(QStringLiteral("@TEMPLATE_PATH@"), QStringLiteral(KREPIKS_PART_TEMPLATE));
    return script;
}

// The sizes of the shipped variants, repeated under numbered names.
struct Size {
    const char* name;
    double d0, d1, d2, D, R, K, L, S, e;
};
constexpr Size Sizes[] = {
    {"M6x40", 5.2, 6, 4.2, 9.5, 0.25, 4, 40, 10, 11.05},
    {"M8x50", 6.9, 8, 5.6, 12.35, 0.4, 5.3, 50, 13, 14.38},
    {"M10x60", 8.6, 10, 7, 15.2, 0.4, 6.4, 60, 16, 17.77},
    {"M12x70", 10.4, 12, 8.4, 17.1, 0.6, 7.5, 70, 18, 20.03},
    {"M16x90", 13.8, 16, 11.2, 22.8, 0.6, 10, 90, 24, 26.75},
    {"M20x110", 17.3, 20, 14, 28.5, 0.8, 12.5, 110, 30, 33.53},
};

void WriteGenerated(const QString& path, int variants) {
    QString script = SampleScript();
    // The schema only: the rows are generated.
    script = script.left(script.indexOf(QStringLiteral("insert into \"Размеры\"")));
    Db db(path);
    db.exec(script.toStdString());
    db.exec("insert into swApp (path_templete_detal) values ('" KREPIKS_PART_TEMPLATE "')");
    db.exec("begin");
    sqlite3_stmt* insert = nullptr;
    const char* sql = "insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, "
                      "e) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 30, 45, 45, ?, ?)";
    if (sqlite3_prepare_v2(db.handle, sql, -1, &insert, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db.handle));
    for (int i = 0; i < variants; ++i) {
        const Size& s = Sizes[i % std::size(Sizes)];
        const std::string name = std::string(s.name) + "-" + std::to_string(i + 1);
        const double values[] = {s.d0, s.d1, s.d2, s.D, s.R, s.K, s.L, s.L / 2, s.L / 10};
        sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        for (int k = 0; k < 9; ++k)
            sqlite3_bind_double(insert, 2 + k, values[k]);
        sqlite3_bind_double(insert, 11, s.S);
        sqlite3_bind_double(insert, 12, s.e);
        if (sqlite3_step(insert) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db.handle));
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    db.exec("commit");
}

QString MakeFolder(const QString& name) {
    const QString folder = Scratch().filePath(name);
    if (!QDir().mkpath(folder))
        throw std::runtime_error("cannot make " + folder.toStdString());
    return folder;
}

} // namespace

TBolt SampleBolt() {
    TBolt bolt;
    bolt.isp = "M12x70";
    bolt.d0 = 10.4, bolt.d1 = 12, bolt.d2 = 8.4, bolt.D = 17.1, bolt.R = 0.6, bolt.K = 7.5;
    bolt.L = 70, bolt.L2 = 35, bolt.L3 = 7, bolt.a = 30, bolt.b = 45, bolt.c = 45;
    bolt.S = 18, bolt.e = 20.03;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    return bolt;
}

QString CatalogueFile(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("bolti.mdb"));
}

QString CatalogueFolder(int variants) {
    static std::map<int, QString> made;
    if (const auto found = made.find(variants); found != made.end())
        return found->second;
    const QString folder = MakeFolder(QStringLiteral("variants-%1").arg(variants));
    WriteGenerated(CatalogueFile(folder), variants);
    return made[variants] = folder;
}

QString SampleCatalogueFolder() {
    static const QString folder = [] {
        const QString made = MakeFolder(QStringLiteral("sample"));
        Db(CatalogueFile(made)).exec(SampleScript().toStdString());
        return made;
    }();
    return folder;
}

namespace {

// Opens file as the program's driver does (read-write, never creating, no locking of the
// handle for other threads), runs statement and hands each row to read; returns the number
// of rows.
template <class Read> int ForEachRow(const QString& file, const char* statement, Read read) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + file.toStdString());
    }
    sqlite3_stmt* select = nullptr;
    if (sqlite3_prepare_v2(db, statement, -1, &select, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error(std::string("cannot run ") + statement);
    }
    int rows = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
        read(select);
        ++rows;
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows;
}

} // namespace

int ReadNamesWithSqlite(const QString& file, std::size_t* bytes) {
    return ForEachRow(file, "select isp from \"Размеры\" order by id", [bytes](sqlite3_stmt* row) {
        sqlite3_column_text(row, 0);
        *bytes += static_cast<std::size_t>(sqlite3_column_bytes(row, 0));
    });
}

int ReadRowsWithSqlite(const QString& file, const char* statement, std::size_t* bytes) {
    return ForEachRow(file, statement, [bytes](sqlite3_stmt* row) {
        const int n = sqlite3_column_count(row);
        for (int i = 0; i < n; ++i) {
            switch (sqlite3_column_type(row, i)) {
            case SQLITE_INTEGER:
                *bytes += static_cast<std::size_t>(sqlite3_column_int64(row, i) & 1);
                break;
            case SQLITE_FLOAT:
                *bytes += sqlite3_column_double(row, i) > 0 ? 1 : 0;
                break;
            case SQLITE_TEXT:
                sqlite3_column_text(row, i);
                *bytes += static_cast<std::size_t>(sqlite3_column_bytes(row, i));
                break;
            default:
                break;
            }
        }
    });
}

QuietEffects::QuietEffects() : previous_(setUiEffects(this)) {}

QuietEffects::~QuietEffects() {
    setUiEffects(previous_);
}

BoxResult QuietEffects::messageBox(const MessageBoxRequest& request) {
    ++boxes;
    lastText = request.text;
    return request.buttons == BoxButtons::YesNo ? BoxResult::Yes : BoxResult::Ok;
}

void QuietEffects::setFocus(QWidget* widget) {
    if (widget)
        widget->setFocus();
}

PaintWatch::PaintWatch(QWidget* widget) : widget_(widget) {
    QCoreApplication::instance()->installEventFilter(this);
}

bool PaintWatch::eventFilter(QObject* watched, QEvent* event) {
    // A window whose children cover it gets no paint of its own: any part of it counts.
    if (event->type() == QEvent::Paint && widget_ && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget == widget_ || widget_->isAncestorOf(widget))
            painted_ = true;
    }
    return false;
}

bool PaintWatch::wait(int timeoutMs) {
    return ProcessUntil([this] { return painted_; }, timeoutMs);
}

bool ProcessUntil(const std::function<bool()>& done, int timeoutMs) {
    bool late = false;
    // Also wakes the loop below when nothing else would.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&late] { late = true; });
    guard.start(timeoutMs);
    QCoreApplication::processEvents();
    while (!done() && !late)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}

} // namespace krepiks::bench
