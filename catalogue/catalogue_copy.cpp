#include "catalogue/catalogue_copy.h"

#include "catalogue/catalogue_fields.h"
#include "catalogue/jet_file.h"
#include "catalogue/server_engine.h"
#include "catalogue/server_schema.h"
#include "platform/exception.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QVariant>
#include <algorithm>
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

// The finished copy takes its name by a link, which never replaces a file that appeared
// meanwhile.
void linkIntoPlace(const QString& partial, const QString& file) {
    if (link(QFile::encodeName(partial).constData(), QFile::encodeName(file).constData()) != 0)
        fail(QStringLiteral("%1 could not be created: %2; nothing was written")
                 .arg(file, QString::fromLocal8Bit(std::strerror(errno))));
    QFile::remove(partial);
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

// A name quoted for the file's engine; an office's names may hold any character.
QString quotedName(QString name) {
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

QString columnList(const Table& table, bool forServer) {
    QStringList names;
    for (const QString& column : table.columns)
        names << (forServer ? column : quotedName(column));
    return names.join(QStringLiteral(", "));
}

Rows readFile(const File& file, const Table& table, const QString& order = {}) {
    const QByteArray sql = QStringLiteral("select %1 from %2 order by %3")
                               .arg(columnList(table, false), quotedName(table.name),
                                    order.isEmpty() ? table.columns[0] : order)
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
    const bool bytesA = a.typeId() == QMetaType::QByteArray;
    if (bytesA || b.typeId() == QMetaType::QByteArray)
        return bytesA == (b.typeId() == QMetaType::QByteArray) &&
               a.toByteArray() == b.toByteArray();
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
        file.error(QStringLiteral("writing"));
}

void copyIntoFile(const File& file, const Table& table, const Rows& rows) {
    const QByteArray sql =
        QStringLiteral("insert into %1 (%2) values (%3)")
            .arg(quotedName(table.name), columnList(table, false),
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

// The declared type under which the file keeps a Jet column, so that SQLite's affinity
// leaves its values as they are; empty for a type the copy cannot carry exactly.
QString declaredType(const JetColumn& column, bool rowKey) {
    switch (static_cast<JetType>(column.type)) {
    case JetType::Boolean:
        return QStringLiteral("boolean");
    case JetType::Byte:
        return QStringLiteral("tinyint");
    case JetType::Integer:
        return QStringLiteral("smallint");
    case JetType::Long:
        // The auto-number as the row key: new rows take keys after the copied ones.
        return rowKey ? QStringLiteral("integer primary key autoincrement")
                      : QStringLiteral("integer");
    case JetType::Currency:
        return QStringLiteral("currency");
    case JetType::Single:
        return QStringLiteral("float");
    case JetType::Double:
        return QStringLiteral("double");
    case JetType::DateTime:
        return QStringLiteral("datetime"); // text to the millisecond, never a number
    case JetType::Text:
        return QStringLiteral("varchar(%1)").arg(std::max(1, column.size / 2));
    case JetType::Memo:
        return QStringLiteral("text");
    case JetType::ReplicationId:
        return QStringLiteral("char(38)");
    case JetType::Binary:
    case JetType::Ole:
        return QStringLiteral("blob");
    case JetType::Numeric:
        break;
    }
    return {};
}

// Rows in the order of their key, as the copy's own order reads them back.
void sortByKey(Rows& rows, std::size_t key) {
    std::stable_sort(rows.begin(), rows.end(), [key](const auto& a, const auto& b) {
        return a[key].toLongLong() < b[key].toLongLong();
    });
}

// The catalogue's two tables out of a Jet file, their columns found as Krepiks finds them.
// leftOut names the office's own tables and columns, which the server's catalogue has no
// place for.
std::vector<Rows> jetCatalogueRows(const QString& file, const QString& reader, QStringList& leftOut,
                                   QStringList& notes) {
    JetReadResult read = ReadJetFile(file, reader);
    if (!read.ok)
        fail(read.error + QStringLiteral("; nothing was copied"));
    notes = read.notes;
    const auto catalogueTable = [](const QString& name) {
        return std::find_if(Tables().begin(), Tables().end(), [&](const Table& t) {
            return t.name.compare(name, Qt::CaseInsensitive) == 0;
        });
    };
    for (const JetTable& jet : read.tables) {
        const auto table = catalogueTable(jet.name);
        if (table == Tables().end()) {
            leftOut << QStringLiteral("table %1 (%2 rows)").arg(jet.name).arg(jet.rows.size());
            continue;
        }
        for (const JetColumn& column : jet.columns)
            if (!table->columns.contains(column.name, Qt::CaseInsensitive))
                leftOut << QStringLiteral("column %1 of %2").arg(column.name, jet.name);
    }
    std::vector<Rows> all;
    for (const Table& table : Tables()) {
        const auto jet = std::find_if(read.tables.begin(), read.tables.end(), [&](const auto& t) {
            return t.name.compare(table.name, Qt::CaseInsensitive) == 0;
        });
        if (jet == read.tables.end())
            fail(QStringLiteral("%1 has no table %2; nothing was copied").arg(file, table.name));
        std::vector<std::size_t> index;
        for (const QString& column : table.columns) {
            const auto found =
                std::find_if(jet->columns.begin(), jet->columns.end(), [&](const JetColumn& c) {
                    return c.name.compare(column, Qt::CaseInsensitive) == 0;
                });
            if (found == jet->columns.end())
                fail(QStringLiteral("%1: table %2 has no column %3; nothing was copied")
                         .arg(file, table.name, column));
            index.push_back(static_cast<std::size_t>(found - jet->columns.begin()));
        }
        Rows rows;
        for (const auto& row : jet->rows) {
            std::vector<QVariant> picked;
            for (std::size_t i : index)
                picked.push_back(row[i]);
            rows.push_back(std::move(picked));
        }
        sortByKey(rows, 0);
        all.push_back(std::move(rows));
    }
    return all;
}

} // namespace

CopyResult CopyFileToServer(const QString& file, PGconn* server, const QString& reader) {
    try {
        if (const QString why = NoFileToRead(file); !why.isEmpty())
            fail(why + QStringLiteral("; nothing was copied"));
        std::vector<Rows> rows;
        QStringList leftOut, notes;
        if (ReadJetHeaderOf(file).format != JetFormat::NotJet) {
            rows = jetCatalogueRows(file, reader, leftOut, notes);
        } else {
            const File source(file, SQLITE_OPEN_READONLY);
            for (const Table& table : Tables())
                rows.push_back(readFile(source, table));
        }

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
        QString message = QStringLiteral("copied %1 to the server").arg(summary(rows));
        if (!leftOut.isEmpty())
            message += QStringLiteral("; NOT copied, as the server's catalogue has no place for "
                                      "them: %1 (from-jet copies them into a file)")
                           .arg(leftOut.join(QStringLiteral(", ")));
        return {true, message, notes};
    } catch (const EDatabaseError& error) {
        return {false, QString::fromStdString(error.what())};
    }
}

CopyResult CopyServerToFile(PGconn* server, const QString& file) {
    const QString partial = file + QStringLiteral(".partial");
    try {
        if (const QString why = NewFileProblem(file); !why.isEmpty())
            fail(why + QStringLiteral("; nothing was written"));
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
        linkIntoPlace(partial, file);
        return {true, QStringLiteral("copied %1 into %2").arg(summary(rows), file)};
    } catch (const EDatabaseError& error) {
        QFile::remove(partial);
        return {false, QString::fromStdString(error.what())};
    }
}

JetCopyResult CopyJetToFile(const QString& jet, const QString& file, const QString& reader) {
    JetCopyResult result;
    const QString partial = file + QStringLiteral(".partial");
    try {
        if (const QString why = NewFileProblem(file); !why.isEmpty())
            fail(why + QStringLiteral("; nothing was written"));
        JetReadResult read = ReadJetFile(jet, reader);
        if (!read.ok)
            fail(read.error + QStringLiteral("; nothing was written"));
        result.notes = read.notes;
        if (read.tables.empty())
            fail(QStringLiteral("%1 holds no table of its users; nothing was written").arg(jet));
        std::vector<Table> tables;
        std::vector<Rows> rows;
        QStringList schema, copied;
        for (JetTable& jetTable : read.tables) {
            const auto autoNumbers = std::count_if(
                jetTable.columns.begin(), jetTable.columns.end(), [](const JetColumn& c) {
                    return c.autoNumber && c.type == static_cast<int>(JetType::Long);
                });
            Table table{jetTable.name, {}};
            QStringList columns;
            int key = -1;
            for (std::size_t i = 0; i < jetTable.columns.size(); ++i) {
                const JetColumn& column = jetTable.columns[i];
                const bool rowKey = autoNumbers == 1 && column.autoNumber &&
                                    column.type == static_cast<int>(JetType::Long);
                if (rowKey)
                    key = static_cast<int>(i);
                const QString type = declaredType(column, rowKey);
                if (type.isEmpty())
                    fail(QStringLiteral("%1: column %2 of table %3 has a type (%4) that the copy "
                                        "cannot carry exactly; nothing was written")
                             .arg(jet, column.name, jetTable.name)
                             .arg(column.type));
                columns << quotedName(column.name) + QLatin1Char(' ') + type;
                table.columns << column.name;
            }
            if (key >= 0)
                sortByKey(jetTable.rows, static_cast<std::size_t>(key));
            schema << QStringLiteral("create table %1 (%2)")
                          .arg(quotedName(jetTable.name), columns.join(QStringLiteral(", ")));
            copied << QStringLiteral("%1 rows of %2").arg(jetTable.rows.size()).arg(jetTable.name);
            tables.push_back(std::move(table));
            rows.push_back(std::move(jetTable.rows));
        }
        QFile::remove(partial);
        {
            const File target(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            target.exec("begin");
            for (const QString& statement : schema)
                target.exec(statement.toUtf8().constData());
            for (std::size_t t = 0; t < tables.size(); ++t)
                copyIntoFile(target, tables[t], rows[t]);
            target.exec("commit");
            for (std::size_t t = 0; t < tables.size(); ++t)
                if (const QString difference = compare(
                        tables[t], rows[t], readFile(target, tables[t], QStringLiteral("rowid")));
                    !difference.isEmpty())
                    fail(difference + QStringLiteral("; nothing was written"));
        }
        linkIntoPlace(partial, file);
        result.written = true;
        result.message =
            QStringLiteral("copied %1 into %2").arg(copied.join(QStringLiteral(", ")), file);
        result.problem = CatalogueProblem(file);
        result.krepiksCanOpen = result.problem.isEmpty();
    } catch (const EDatabaseError& error) {
        QFile::remove(partial);
        result.message = QString::fromStdString(error.what());
    }
    return result;
}

CopyResult WriteSampleCatalogue(const QString& file, const QString& script,
                                const QString& templatePath) {
    QFile source(script);
    if (!source.open(QIODevice::ReadOnly))
        return {false, QStringLiteral("%1 cannot be read: %2; nothing was written")
                           .arg(script, source.errorString())};
    QString sql = QString::fromUtf8(source.readAll());
    QString quoted = templatePath;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    sql.replace(QStringLiteral("@TEMPLATE_PATH@"), quoted);
    // A name of its own, so that two first starts at once cannot write into one file.
    QTemporaryFile partial(file + QStringLiteral(".XXXXXX.partial"));
    try {
        if (const QString why = NewFileProblem(file); !why.isEmpty())
            fail(why + QStringLiteral("; nothing was written"));
        if (!partial.open())
            fail(QStringLiteral("%1 could not be created: %2; nothing was written")
                     .arg(file, partial.errorString()));
        {
            const File target(partial.fileName(), SQLITE_OPEN_READWRITE);
            target.exec("begin");
            target.exec(sql.toUtf8().constData());
            target.exec("commit");
        }
        if (const QString problem = CatalogueProblem(partial.fileName()); !problem.isEmpty())
            fail(problem + QStringLiteral("; nothing was written"));
        linkIntoPlace(partial.fileName(), file);
        return {true, QStringLiteral("wrote the sample catalogue into %1, its part template %2")
                          .arg(file, templatePath)};
    } catch (const EDatabaseError& error) {
        return {false, QString::fromStdString(error.what())};
    }
}

QString NewFileProblem(const QString& file) {
    if (QFileInfo::exists(file))
        return QStringLiteral("%1 exists already").arg(file);
    // The copy is made beside it first, under a name the user never gave.
    const QFileInfo folder(QFileInfo(file).path());
    if (!folder.exists())
        return QStringLiteral("%1 cannot be created: the folder %2 does not exist")
            .arg(file, folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("%1 cannot be created: %2 is not a folder")
            .arg(file, folder.filePath());
    return {};
}

QString CatalogueProblem(const QString& file) {
    try {
        const File db(file, SQLITE_OPEN_READONLY);
        const std::pair<QString, const std::vector<FieldDef>*> tables[] = {
            {QStringLiteral("Размеры"), &VariantFields()},
            {QStringLiteral("swApp"), &TemplatePathFields()}};
        for (const auto& [name, fields] : tables) {
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db.db, "select name, type from pragma_table_info(?)", -1,
                                   &statement, nullptr) != SQLITE_OK)
                db.error(file);
            const QByteArray utf8 = name.toUtf8();
            sqlite3_bind_text(statement, 1, utf8.constData(), static_cast<int>(utf8.size()),
                              SQLITE_TRANSIENT);
            DeclaredColumns columns;
            QStringList names;
            while (sqlite3_step(statement) == SQLITE_ROW)
                columns.emplace_back(QString::fromUtf8(reinterpret_cast<const char*>(
                                         sqlite3_column_text(statement, 0))),
                                     QString::fromUtf8(reinterpret_cast<const char*>(
                                         sqlite3_column_text(statement, 1))));
            sqlite3_finalize(statement);
            if (columns.empty())
                return QStringLiteral("The Microsoft Jet database engine cannot find the input "
                                      "table or query '%1'.  Make sure it exists and that its "
                                      "name is spelled correctly.")
                    .arg(name);
            for (const auto& column : columns)
                names << column.first;
            // The same check, in the same order, as Krepiks makes when it opens the table.
            QString problem = MissingField(names, *fields);
            if (problem.isEmpty())
                problem = DeclaredTypeProblem(columns, *fields);
            if (!problem.isEmpty())
                return name + QStringLiteral(": ") + problem;
        }
    } catch (const EDatabaseError& error) {
        return QString::fromStdString(error.what());
    }
    return {};
}

void LinkIntoPlace(const QString& partial, const QString& file) {
    linkIntoPlace(partial, file);
}

const QStringList& VariantColumns() {
    return Tables()[0].columns;
}

CatalogueRows ReadCatalogueFile(const QString& file) {
    const File source(file, SQLITE_OPEN_READONLY);
    return {readFile(source, Tables()[0]), readFile(source, Tables()[1])};
}

CatalogueRows ReadCatalogueServer(PGconn* server) {
    server::Exec(server, QStringLiteral("begin transaction isolation level repeatable read"));
    CatalogueRows tables;
    try {
        server::Exec(server, QStringLiteral("set local extra_float_digits = 3"));
        tables = {readServer(server, Tables()[0]), readServer(server, Tables()[1])};
        server::Exec(server, QStringLiteral("commit"));
    } catch (...) {
        PQclear(PQexec(server, "rollback"));
        throw;
    }
    return tables;
}

CopyResult WriteCatalogueFile(const QString& file, const CatalogueRows& tables) {
    const std::vector<Rows> rows = {tables.variants, tables.templatePaths};
    // A name of its own, so that two copies at once cannot write into one file.
    QTemporaryFile partial(file + QStringLiteral(".XXXXXX.partial"));
    try {
        if (QFileInfo::exists(file))
            fail(QStringLiteral("%1 exists already; nothing was written").arg(file));
        if (!partial.open())
            fail(QStringLiteral("%1 could not be created: %2; nothing was written")
                     .arg(file, partial.errorString()));
        {
            const File target(partial.fileName(), SQLITE_OPEN_READWRITE);
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
        linkIntoPlace(partial.fileName(), file);
        return {true, QStringLiteral("wrote %1 into %2").arg(summary(rows), file)};
    } catch (const EDatabaseError& error) {
        return {false, QString::fromStdString(error.what())};
    }
}

} // namespace krepiks
