#pragma once
// The catalogue file's engine: SQLite's own handle behind Qt's driver, read straight for a
// whole result, and its errors worded as the provider words them.
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <vector>

class QSqlError;
struct sqlite3;

namespace krepiks {

// An engine error on the catalogue file, worded as the provider words it.
QString ProviderErrorText(const QSqlError& error, const QString& filePath);

namespace sqlite {

// The SQLite handle behind a database opened with Qt's SQLite driver; null for any other
// driver, or when it is closed.
sqlite3* Handle(const QSqlDatabase& db);

// Straight on the engine's handle: going through a QSqlQuery costs a converted copy of every
// value of every row, which made a refill of a large catalogue many times slower than the
// engine itself. Values come out as the Qt driver gives them: integers as qlonglong, reals
// as double, text as QString, blobs as QByteArray, and no value as a null.
// Throws EDatabaseError in the provider's words, naming filePath where the words do.
void ReadSnapshot(sqlite3* handle, const QString& text, const QVariantList& parameters,
                  const QString& filePath, QSqlRecord& columns, std::vector<QVariant>& cells);

} // namespace sqlite

} // namespace krepiks
