#include "catalogue/catalogue_copy.h"

#include "catalogue/server_engine.h"
#include "catalogue/server_schema.h"
#include "platform/exception.h"

#include <QFile>
#include <QFileInfo>
#include <QVariant>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <unistd.h>
#include <vector>

namespace krepiks {

namespace {

struct Table {
    QString name;
    QStringList columns; // the key first
};

const std::vector<Table>& Tables() {
    static const std::vector<Table> tables = {
        {QStringLiteral("Размеры"),
         {"id", "isp", "d0", "d1", "d2", "D", "R", "K", "L", "L2", "L3", "a", "b", "c", "S", "e"}},
        {QStringLiteral("swApp"), {"id_swApp", "path_templete_detal"}},
    };
    return tables;
}

// The file's tables as the program's sample catalogue declares them.
constexpr char FileSchema[] =
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

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

struct File {
    sqlite3* db = nullptr;
    File(const QString& path, int flags) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK)
            error(path);
        sqlite3_busy_timeout(db, 5000);
    }
    ~File() { sqlite3_close(db); }
    [[noreturn]] void error(const QString& what) const {
        fail(what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db)));
    }
    void exec(const char* sql) const {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            error(QString::fromUtf8(sql).section(QLatin1Char('\n'), 0, 0));
    }
};

QString columnList(const Table& table, bool forServer) {
    QStringList names;
    for (const QString& column : table.columns)
        names << (forServer ? column : QStringLiteral("\"%1\"").arg(column));
    return names.join(QStringLiteral(", "));
}

Rows readFile(const File& file, const Table& table) {
    const QByteArray sql = QStringLiteral("select %1 from \"%2\" order by %3")
                               .arg(columnList(table, false), table.name, table.columns[0])
                               .toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(file.db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        file.error(QStringLiteral("reading %1").arg(table.name));
    Rows rows;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<QVariant> row;
        for (int i = 0; i < table.columns.size(); ++i) {
            switch (sqlite3_column_type(statement, i)) {
            case SQLITE_INTEGER:
                row.emplace_back(static_cast<qlonglong>(sqlite3_column_int64(statement, i)));
                break;
            case SQLITE_FLOAT:
                row.emplace_back(sqlite3_column_double(statement, i));
                break;
            case SQLITE_NULL:
                row.emplace_back();
                break;
            default:
                row.emplace_back(QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, i))));
                break;
            }
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE)
        file.error(QStringLiteral("reading %1").arg(table.name));
    return rows;
}

Rows readServer(PGconn* server, const Table& table) {
    const server::Result result =
        server::Exec(server, QStringLiteral("select %1 from %2 order by %3")
                                 .arg(columnList(table, true), table.name, table.columns[0]));
    Rows rows;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        std::vector<QVariant> row;
        for (int i = 0; i < table.columns.size(); ++i)
            row.push_back(PQgetisnull(result.get(), r, i) ? QVariant()
                                                          : server::CellValue(result.get(), r, i));
        rows.push_back(std::move(row));
    }
    return rows;
}

bool sameValue(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    const bool numberA = a.typeId() == QMetaType::Double || a.typeId() == QMetaType::LongLong;
    const bool numberB = b.typeId() == QMetaType::Double || b.typeId() == QMetaType::LongLong;
    if (numberA != numberB)
        return false;
    if (numberA) {
        const double x = a.toDouble(), y = b.toDouble();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    return a.toString() == b.toString();
}

// The first difference between what was written and what reads back, or "".
QString compare(const Table& table, const Rows& written, const Rows& read) {
    if (written.size() != read.size())
        return QStringLiteral("%1: %2 rows written, %3 read back")
            .arg(table.name)
            .arg(written.size())
            .arg(read.size());
    for (std::size_t r = 0; r < written.size(); ++r)
        for (int i = 0; i < table.columns.size(); ++i)
            if (!sameValue(written[r][i], read[r][i]))
                return QStringLiteral("%1: row %2, column %3 reads back as '%4', not '%5'")
                    .arg(table.name, written[r][0].toString(), table.columns[i],
                         read[r][i].toString(), written[r][i].toString());
    return {};
}

QByteArray copyText(const QVariant& value) {
    if (value.isNull())
        return "\\N";
    if (value.typeId() == QMetaType::Double)
        return server::DoubleText(value.toDouble());
    QByteArray text = value.toString().toUtf8();
    text.replace('\\', "\\\\").replace('\t', "\\t").replace('\n', "\\n").replace('\r', "\\r");
    return text;
}

void copyIntoServer(PGconn* server, const Table& table, const Rows& rows) {
    server::Result start(PQexec(server, QStringLiteral("copy %1 (%2) from stdin")
                                            .arg(table.name, columnList(table, true))
                                            .toUtf8()
                                            .constData()),
                         &PQclear);
    if (PQresultStatus(start.get()) != PGRES_COPY_IN)
        fail(server::ErrorText(server, start.get()));
    QByteArray chunk;
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i)
                chunk.append('\t');
            chunk.append(copyText(row[i]));
        }
        chunk.append('\n');
        if (chunk.size() > (1 << 16)) {
            if (PQputCopyData(server, chunk.constData(), static_cast<int>(chunk.size())) != 1)
                fail(server::ErrorText(server, nullptr));
            chunk.clear();
        }
    }
    if ((!chunk.isEmpty() &&
         PQputCopyData(server, chunk.constData(), static_cast<int>(chunk.size())) != 1) ||
        PQputCopyEnd(server, nullptr) != 1)
        fail(server::ErrorText(server, nullptr));
    const server::Result end(PQgetResult(server), &PQclear);
    if (PQresultStatus(end.get()) != PGRES_COMMAND_OK)
        fail(server::ErrorText(server, end.get()));
    while (PGresult* rest = PQgetResult(server))
        PQclear(rest);
    // New rows added later take keys after the copied ones.
    server::Exec(server, QStringLiteral("select setval(pg_get_serial_sequence('%1', '%2'), "
                                        "coalesce(max(%2), 0) + 1, false) from %1")
                             .arg(server::FoldedIdentifier(table.name),
                                  server::FoldedIdentifier(table.columns[0])));
}

void bindValue(const File& file, sqlite3_stmt* statement, int index, const QVariant& value) {
    int code = SQLITE_OK;
    if (value.isNull()) {
        code = sqlite3_bind_null(statement, index);
    } else if (value.typeId() == QMetaType::LongLong) {
        code = sqlite3_bind_int64(statement, index, value.toLongLong());
    } else if (value.typeId() == QMetaType::Double) {
        code = sqlite3_bind_double(statement, index, value.toDouble());
    } else {
        const QByteArray text = value.toString().toUtf8();
        code = sqlite3_bind_text(statement, index, text.constData(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
    }
    if (code != SQLITE_OK)
        file.error(QStringLiteral("writing"));
}

void copyIntoFile(const File& file, const Table& table, const Rows& rows) {
    const QByteArray sql =
        QStringLiteral("insert into \"%1\" (%2) values (%3)")
            .arg(table.name, columnList(table, false),
                 QStringList(table.columns.size(), QStringLiteral("?")).join(QLatin1Char(',')))
            .toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(file.db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        file.error(QStringLiteral("writing %1").arg(table.name));
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            bindValue(file, statement, static_cast<int>(i) + 1, row[i]);
        if (sqlite3_step(statement) != SQLITE_DONE) {
            sqlite3_finalize(statement);
            file.error(QStringLiteral("writing %1").arg(table.name));
        }
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
}

QString summary(const std::vector<Rows>& copied) {
    QStringList parts;
    for (std::size_t t = 0; t < copied.size(); ++t)
        parts << QStringLiteral("%1 rows of %2").arg(copied[t].size()).arg(Tables()[t].name);
    return parts.join(QStringLiteral(", "));
}

} // namespace

CopyResult CopyFileToServer(const QString& file, PGconn* server) {
    try {
        if (!QFileInfo(file).isFile())
            fail(QStringLiteral("Could not find file '%1'.").arg(file));
        const File source(file, SQLITE_OPEN_READONLY);
        std::vector<Rows> rows;
        for (const Table& table : Tables())
            rows.push_back(readFile(source, table));

        server::Exec(server, QStringLiteral("begin"));
        try {
            for (const Table& table : Tables()) {
                const server::Result exists = server::Exec(
                    server, QStringLiteral("select to_regclass(?) is not null"), {table.name});
                if (PQgetvalue(exists.get(), 0, 0)[0] == 't')
                    fail(QStringLiteral("the server database already holds a table %1; nothing "
                                        "was copied")
                             .arg(table.name));
            }
            for (const QString& statement : ServerSchemaStatements())
                server::Exec(server, statement);
            for (std::size_t t = 0; t < Tables().size(); ++t)
                copyIntoServer(server, Tables()[t], rows[t]);
            server::Exec(server, QStringLiteral("set local extra_float_digits = 3"));
            for (std::size_t t = 0; t < Tables().size(); ++t)
                if (const QString difference =
                        compare(Tables()[t], rows[t], readServer(server, Tables()[t]));
                    !difference.isEmpty())
                    fail(difference + QStringLiteral("; nothing was copied"));
            server::Exec(server, QStringLiteral("commit"));
        } catch (...) {
            PQclear(PQexec(server, "rollback"));
            throw;
        }
        return {true, QStringLiteral("copied %1 to the server").arg(summary(rows))};
    } catch (const EDatabaseError& error) {
        return {false, QString::fromStdString(error.what())};
    }
}

CopyResult CopyServerToFile(PGconn* server, const QString& file) {
    const QString partial = file + QStringLiteral(".partial");
    try {
        if (QFileInfo::exists(file))
            fail(QStringLiteral("%1 exists already; nothing was written").arg(file));
        // One snapshot of the server for every table, read once.
        server::Exec(server, QStringLiteral("begin transaction isolation level repeatable read"));
        std::vector<Rows> rows;
        try {
            server::Exec(server, QStringLiteral("set local extra_float_digits = 3"));
            for (const Table& table : Tables())
                rows.push_back(readServer(server, table));
            server::Exec(server, QStringLiteral("commit"));
        } catch (...) {
            PQclear(PQexec(server, "rollback"));
            throw;
        }
        QFile::remove(partial);
        {
            const File target(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            target.exec(FileSchema);
            target.exec("begin");
            for (std::size_t t = 0; t < Tables().size(); ++t)
                copyIntoFile(target, Tables()[t], rows[t]);
            target.exec("commit");
            for (std::size_t t = 0; t < Tables().size(); ++t)
                if (const QString difference =
                        compare(Tables()[t], rows[t], readFile(target, Tables()[t]));
                    !difference.isEmpty())
                    fail(difference + QStringLiteral("; nothing was written"));
        }
        // A link never replaces a file that appeared meanwhile.
        if (link(QFile::encodeName(partial).constData(), QFile::encodeName(file).constData()) != 0)
            fail(QStringLiteral("%1 could not be created: %2; nothing was written")
                     .arg(file, QString::fromLocal8Bit(std::strerror(errno))));
        QFile::remove(partial);
        return {true, QStringLiteral("copied %1 into %2").arg(summary(rows), file)};
    } catch (const EDatabaseError& error) {
        QFile::remove(partial);
        return {false, QString::fromStdString(error.what())};
    }
}

} // namespace krepiks
