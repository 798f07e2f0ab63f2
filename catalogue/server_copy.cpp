// The catalogue between a file (a catalogue file or a Jet one) and the office's server.
#include "catalogue/catalogue_copy.h"
#include "catalogue/copy_check.h"
#include "catalogue/copy_rows.h"
#include "catalogue/file_into_place.h"
#include "catalogue/jet_file.h"
#include "catalogue/server_engine.h"
#include "catalogue/server_schema.h"
#include "platform/exception.h"

#include <QFile>
#include <algorithm>

namespace krepiks {

using namespace copying;

namespace {

// The catalogue's two tables out of a Jet file, their columns found as Krepiks finds them.
// leftOut names the office's own tables and columns, which the server's catalogue has no
// place for.
std::vector<Rows> jetCatalogueRows(const QString& file, const QString& reader, QStringList& leftOut,
                                   QStringList& notes) {
    JetReadResult read = ReadJetFile(file, reader);
    if (!read.ok)
        fail(read.error + QStringLiteral("; ничего не скопировано"));
    notes = read.notes;
    const auto catalogueTable = [](const QString& name) {
        return std::find_if(Tables().begin(), Tables().end(), [&](const Table& t) {
            return t.name.compare(name, Qt::CaseInsensitive) == 0;
        });
    };
    for (const JetTable& jet : read.tables) {
        const auto table = catalogueTable(jet.name);
        if (table == Tables().end()) {
            leftOut << QStringLiteral("таблица «%1» (строк: %2)")
                           .arg(jet.name, QString::number(jet.rows.size()));
            continue;
        }
        for (const JetColumn& column : jet.columns)
            if (!table->columns.contains(column.name, Qt::CaseInsensitive))
                leftOut << QStringLiteral("столбец %1 таблицы «%2»").arg(column.name, jet.name);
    }
    std::vector<Rows> all;
    for (const Table& table : Tables()) {
        const auto jet = std::find_if(read.tables.begin(), read.tables.end(), [&](const auto& t) {
            return t.name.compare(table.name, Qt::CaseInsensitive) == 0;
        });
        if (jet == read.tables.end())
            fail(QStringLiteral("в %1 нет таблицы «%2»; ничего не скопировано")
                     .arg(file, table.name));
        std::vector<std::size_t> index;
        for (const QString& column : table.columns) {
            const auto found =
                std::find_if(jet->columns.begin(), jet->columns.end(), [&](const JetColumn& c) {
                    return c.name.compare(column, Qt::CaseInsensitive) == 0;
                });
            if (found == jet->columns.end())
                fail(QStringLiteral("%1: в таблице «%2» нет столбца %3; ничего не скопировано")
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
            fail(why + QStringLiteral("; ничего не скопировано"));
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
                    fail(QStringLiteral("в базе данных сервера уже есть таблица «%1»; "
                                        "ничего не скопировано")
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
                    fail(difference + QStringLiteral("; ничего не скопировано"));
            server::Exec(server, QStringLiteral("commit"));
        } catch (...) {
            PQclear(PQexec(server, "rollback"));
            throw;
        }
        QString message = QStringLiteral("скопировано на сервер: %1").arg(summary(rows));
        if (!leftOut.isEmpty())
            message += QStringLiteral("; НЕ скопировано, потому что в каталоге сервера для "
                                      "этого нет места: %1 (это переносит в файл команда "
                                      "from-jet)")
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
            fail(why + QStringLiteral("; ничего не записано"));
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
            writeChecked(target, rows);
        }
        LinkIntoPlace(partial, file);
        return {true, QStringLiteral("скопировано в %2: %1").arg(summary(rows), file)};
    } catch (const EDatabaseError& error) {
        QFile::remove(partial);
        return {false, QString::fromStdString(error.what())};
    }
}

} // namespace krepiks
