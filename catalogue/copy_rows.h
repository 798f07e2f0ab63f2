#pragma once
// The row reading and writing that the copies between a catalogue file and the office's server
// share: the catalogue's tables, the file's engine, and each table's rows in and out of either
// side. For the copies' own files only.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <vector>

namespace krepiks::copying {

struct Table {
    QString name;
    QStringList columns; // the key first
};

// The catalogue's two tables: Размеры, then swApp.
const std::vector<Table>& Tables();

// The file's tables as the program's sample catalogue declares them.
inline constexpr char FileSchema[] =
    "create table \"Размеры\" (\n"
    "  id integer primary key autoincrement,\n"
    "  isp varchar(150),\n"
    "  d0 double, d1 double, d2 double, D double, R double, K double,\n"
    "  L double, L2 double, L3 double, a double, b double, c double, S double, e double\n"
    ");\n"
    "create table swApp (\n"
    "  id_swApp integer primary key autoincrement,\n"
    "  path_templete_detal varchar(250)\n"
    ");\n";

using Rows = std::vector<std::vector<QVariant>>;

// Throws EDatabaseError with message.
[[noreturn]] void fail(const QString& message);

// A file opened with SQLite's flags; any failure throws EDatabaseError.
struct File {
    sqlite3* db = nullptr;
    File(const QString& path, int flags);
    ~File();
    [[noreturn]] void error(const QString& what) const;
    void exec(const char* sql) const;
};

// A name quoted for the file's engine; an office's names may hold any character.
QString quotedName(QString name);

// The table's rows from the file, ordered by order (by default its key).
Rows readFile(const File& file, const Table& table, const QString& order = {});
// The table's rows from the server, in key order.
Rows readServer(PGconn* server, const Table& table);

void copyIntoServer(PGconn* server, const Table& table, const Rows& rows);
void copyIntoFile(const File& file, const Table& table, const Rows& rows);

// Rows in the order of their key, as the copy's own order reads them back.
void sortByKey(Rows& rows, std::size_t key);

} // namespace krepiks::copying
