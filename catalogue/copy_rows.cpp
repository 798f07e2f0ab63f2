#include "catalogue/copy_rows.h"

#include "catalogue/server_engine.h"
#include "platform/exception.h"

#include <QFile>
#include <algorithm>

namespace krepiks::copying {

namespace {

QString columnList(const Table& table, bool forServer) {
    QStringList names;
    for (const QString& column : table.columns)
        names << (forServer ? column : quotedName(column));
    return names.join(QStringLiteral(", "));
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

void bindValue(const File& file, sqlite3_stmt* statement, int index, const QVariant& value) {
    int code = SQLITE_OK;
    if (value.isNull()) {
        code = sqlite3_bind_null(statement, index);
    } else if (value.typeId() == QMetaType::LongLong) {
        code = sqlite3_bind_int64(statement, index, value.toLongLong());
    } else if (value.typeId() == QMetaType::Double) {
        code = sqlite3_bind_double(statement, index, value.toDouble());
    } else if (value.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = value.toByteArray();
        code = sqlite3_bind_blob(statement, index, bytes.constData(),
                                 static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    } else {
        const QByteArray text = value.toString().toUtf8();
        code = sqlite3_bind_text(statement, index, text.constData(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
    }
    if (code != SQLITE_OK)
        file.error(QStringLiteral("запись"));
}

} // namespace

const std::vector<Table>& Tables() {
    static const std::vector<Table> tables = {
        {QStringLiteral("Размеры"),
         {"id", "isp", "d0", "d1", "d2", "D", "R", "K", "L", "L2", "L3", "a", "b", "c", "S", "e"}},
        {QStringLiteral("swApp"), {"id_swApp", "path_templete_detal"}},
    };
    return tables;
}

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

File::File(const QString& path, int flags) {
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK)
        error(path);
    sqlite3_busy_timeout(db, 5000);
}

File::~File() {
    sqlite3_close(db);
}

void File::error(const QString& what) const {
    fail(what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db)));
}

void File::exec(const char* sql) const {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        error(QString::fromUtf8(sql).section(QLatin1Char('\n'), 0, 0));
}

QString quotedName(QString name) {
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

Rows readFile(const File& file, const Table& table, const QString& order) {
    const QByteArray sql = QStringLiteral("select %1 from %2 order by %3")
                               .arg(columnList(table, false), quotedName(table.name),
                                    order.isEmpty() ? table.columns[0] : order)
                               .toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(file.db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        file.error(QStringLiteral("чтение таблицы «%1»").arg(table.name));
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
            case SQLITE_BLOB:
                row.emplace_back(
                    QByteArray(static_cast<const char*>(sqlite3_column_blob(statement, i)),
                               sqlite3_column_bytes(statement, i)));
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
        file.error(QStringLiteral("чтение таблицы «%1»").arg(table.name));
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

void copyIntoFile(const File& file, const Table& table, const Rows& rows) {
    const QByteArray sql =
        QStringLiteral("insert into %1 (%2) values (%3)")
            .arg(quotedName(table.name), columnList(table, false),
                 QStringList(table.columns.size(), QStringLiteral("?")).join(QLatin1Char(',')))
            .toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(file.db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        file.error(QStringLiteral("запись в таблицу «%1»").arg(table.name));
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            bindValue(file, statement, static_cast<int>(i) + 1, row[i]);
        if (sqlite3_step(statement) != SQLITE_DONE) {
            sqlite3_finalize(statement);
            file.error(QStringLiteral("запись в таблицу «%1»").arg(table.name));
        }
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
}

void sortByKey(Rows& rows, std::size_t key) {
    std::stable_sort(rows.begin(), rows.end(), [key](const auto& a, const auto& b) {
        return a[key].toLongLong() < b[key].toLongLong();
    });
}

} // namespace krepiks::copying
