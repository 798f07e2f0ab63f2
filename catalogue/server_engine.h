#pragma once
// The catalogue on a PostgreSQL server. Qt's driver opens the connection; rows are read and
// written straight through its libpq handle, as the file's are through SQLite's, so values
// keep their exact types and a refill costs what the server costs.
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <libpq-fe.h>
#include <memory>
#include <vector>

namespace krepiks::server {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The libpq connection behind a database opened with Qt's PostgreSQL driver; null for any
// other driver.
PGconn* Handle(const QSqlDatabase& db);

// Whether the server has gone away (the next action then connects again).
bool Lost(PGconn* connection);

// A name as the server keeps it: unquoted names fold their ASCII letters to lower case.
QString FoldedIdentifier(const QString& identifier);

// A double as the server reads it back to the last bit, its non-finite values included.
QByteArray DoubleText(double number);

// An error of the server or the connection, worded as the file's engine words the same
// fault where it has one.
QString ErrorText(PGconn* connection, const PGresult* result);

// Runs one statement, with values for its '?' placeholders; a binary result carries numbers
// as their bits rather than as text. Throws EDatabaseError.
Result Exec(PGconn* connection, const QString& statement, const QVariantList& values = {},
            bool binary = false);

// Reads a whole result into cells, row after row, with the column names into columns.
// Integers come out as qlonglong, floating types as double, text as QString and no value
// as a null QString, as the file's reader gives them.
void ReadSnapshot(PGconn* connection, const QString& statement, const QVariantList& values,
                  QSqlRecord& columns, std::vector<QVariant>& cells);

// The declared type of each column of table, named as the file's engine would declare it,
// as (column, type) pairs.
std::vector<std::pair<QString, QString>> DeclaredTypes(PGconn* connection, const QString& table);

// The single-column primary key of table, or "" when it has none.
QString PrimaryKey(PGconn* connection, const QString& table);

// The value of one cell as the reader gives it.
QVariant CellValue(const PGresult* result, int row, int column);

} // namespace krepiks::server
