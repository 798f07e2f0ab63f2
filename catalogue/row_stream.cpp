#include "catalogue/row_stream.h"

#include "catalogue/database.h"
#include "catalogue/server_engine.h"
#include "platform/exception.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <utility>

namespace krepiks {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

class FileRows : public RowStream {
public:
    FileRows(TADOConnection& connection, const QString& statement)
        : query_(connection.database()), filePath_(connection.filePath()) {
        query_.setForwardOnly(true);
        if (!query_.prepare(statement) || !query_.exec())
            fail(ProviderErrorText(query_.lastError(), filePath_));
        record_ = query_.record();
    }
    ~FileRows() override { query_.finish(); } // lets go of the file's read lock at once

    QSqlRecord record() const override { return record_; }

    bool next(QVariantList& row) override {
        if (!query_.next()) {
            if (query_.lastError().isValid())
                fail(ProviderErrorText(query_.lastError(), filePath_));
            return false;
        }
        row.clear();
        for (int i = 0; i < record_.count(); ++i)
            row.append(query_.value(i));
        return true;
    }

private:
    QSqlQuery query_;
    QString filePath_;
    QSqlRecord record_;
};

class ServerRows : public RowStream {
public:
    ServerRows(TADOConnection& owner, const QString& statement)
        : owner_(owner), connection_(owner.TakeReader()) {
        QString select = statement.trimmed();
        while (select.endsWith(QLatin1Char(';')))
            select.chop(1);
        // The statement runs unchanged inside a cursor of the reading session: rows come a
        // batch at a time as the window needs them, and leaving early costs one statement
        // instead of reading what the server has already sent. One round trip opens it.
        fetch(QStringLiteral("begin; declare krepiks_rows binary no scroll cursor for %1; "
                             "fetch forward %2 from krepiks_rows")
                  .arg(select)
                  .arg(FirstBatch));
        for (int i = 0; i < PQnfields(batch_.get()); ++i)
            record_.append(QSqlField(QString::fromUtf8(PQfname(batch_.get(), i))));
    }

    ~ServerRows() override { end(); }

    QSqlRecord record() const override { return record_; }

    bool next(QVariantList& row) override {
        if (!batch_)
            return false;
        if (index_ >= PQntuples(batch_.get())) {
            if (PQntuples(batch_.get()) < (fetched_ ? Batch : FirstBatch)) {
                end();
                return false;
            }
            fetch(QStringLiteral("fetch forward %1 from krepiks_rows").arg(Batch));
            fetched_ = true;
            if (PQntuples(batch_.get()) == 0) {
                end();
                return false;
            }
        }
        row.clear();
        for (int i = 0; i < record_.count(); ++i)
            row.append(server::CellValue(batch_.get(), index_, i));
        ++index_;
        return true;
    }

private:
    // The first batch is what the table window's first screen reads; the rest come in
    // larger ones, for a reading of the whole table.
    static constexpr int FirstBatch = 256, Batch = 2048;

    void fetch(const QString& text) {
        batch_.reset(PQexec(connection_, text.toUtf8().constData()));
        index_ = 0;
        if (!batch_ || PQresultStatus(batch_.get()) != PGRES_TUPLES_OK) {
            const QString message = server::ErrorText(connection_, batch_.get());
            end();
            fail(message);
        }
    }

    // Closes the cursor and hands the session back for the next reading.
    void end() {
        batch_.reset();
        if (!connection_)
            return;
        if (PQtransactionStatus(connection_) != PQTRANS_IDLE && !server::Lost(connection_))
            PQclear(PQexec(connection_, "rollback"));
        owner_.KeepReader(std::exchange(connection_, nullptr));
    }

    TADOConnection& owner_;
    PGconn* connection_;
    server::Result batch_{nullptr, &PQclear};
    int index_ = 0;
    bool fetched_ = false; // beyond the first batch
    QSqlRecord record_;
};

} // namespace

std::unique_ptr<RowStream> OpenRowStream(TADOConnection& connection, const QString& statement) {
    if (connection.onServer())
        return std::make_unique<ServerRows>(connection, statement);
    return std::make_unique<FileRows>(connection, statement);
}

} // namespace krepiks
