#pragma once
// A result read row by row as far as it is needed, so that a large catalogue shows its
// first screen without the rest being read. On the file it is a forward-only query of the
// connection; on the server a connection of its own streams the rows, so that the main
// connection stays free for the statements issued while the rows are still coming.
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <memory>

namespace krepiks {

class TADOConnection;

class RowStream {
public:
    virtual ~RowStream() = default;
    // The result's columns.
    virtual QSqlRecord record() const = 0;
    // The next row, every column; false at the end. Throws EDatabaseError.
    virtual bool next(QVariantList& row) = 0;
};

// Runs statement on the connection's catalogue. Throws EDatabaseError.
std::unique_ptr<RowStream> OpenRowStream(TADOConnection& connection, const QString& statement);

} // namespace krepiks
