#include "catalogue/row_stream.h"

#include "catalogue/database.h"
#include "catalogue/server_engine.h"
#include "platform/exception.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>

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
        if (!PQsendQueryParams(connection_, statement.toUtf8().constData(), 0, nullptr, nullptr,
                               nullptr, nullptr, 1) ||
            !PQsetSingleRowMode(connection_)) {
            const QString message = server::ErrorText(connection_, nullptr);
            PQfinish(connection_);
            connection_ = nullptr;
            fail(message);
        }
        try {
            take(); // the first row, or the end, tells the columns
        } catch (...) {
            owner_.KeepReader(connection_);
            throw;
        }
        if (pending_)
            for (int i = 0; i < PQnfields(pending_.get()); ++i)
                record_.append(QSqlField(QString::fromUtf8(PQfname(pending_.get(), i))));
    }

    ~ServerRows() override {
        if (!connection_)
            return;
        pending_.reset();
        if (PQisBusy(connection_) || PQtransactionStatus(connection_) == PQTRANS_ACTIVE) {
            // Left before the end: the server stops sending, and what is on the way is dropped.
            if (PGcancel* cancel = PQgetCancel(connection_)) {
                char error[256];
                PQcancel(cancel, error, sizeof error);
                PQfreeCancel(cancel);
            }
            while (PGresult* rest = PQgetResult(connection_))
                PQclear(rest);
        }
        owner_.KeepReader(connection_);
    }

    QSqlRecord record() const override { return record_; }

    bool next(QVariantList& row) override {
        if (!pending_ || PQntuples(pending_.get()) == 0)
            return false;
        row.clear();
        for (int i = 0; i < record_.count(); ++i)
            row.append(server::CellValue(pending_.get(), 0, i));
        take();
        return true;
    }

private:
    // Reads the next result: one row, or the empty one that ends the rows.
    void take() {
        pending_.reset(PQgetResult(connection_));
        if (!pending_)
            return;
        const ExecStatusType status = PQresultStatus(pending_.get());
        if (status == PGRES_SINGLE_TUPLE)
            return;
        if (status != PGRES_TUPLES_OK) {
            const QString message = server::ErrorText(connection_, pending_.get());
            pending_.reset();
            fail(message);
        }
        // The end: drain what follows so that the connection could be used again.
        while (PGresult* rest = PQgetResult(connection_))
            PQclear(rest);
    }

    TADOConnection& owner_;
    PGconn* connection_;
    server::Result pending_{nullptr, &PQclear};
    QSqlRecord record_;
};

} // namespace

std::unique_ptr<RowStream> OpenRowStream(TADOConnection& connection, const QString& statement) {
    if (connection.onServer())
        return std::make_unique<ServerRows>(connection, statement);
    return std::make_unique<FileRows>(connection, statement);
}

} // namespace krepiks
