#include "catalogue/row_stream.h"

#include "catalogue/connection_service.h"
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
    explicit ServerRows(const QString& statement)
        : connection_(PQconnectdb(QByteArray("service=").append(CatalogueService).constData()),
                      &PQfinish) {
        if (PQstatus(connection_.get()) != CONNECTION_OK ||
            PQsetClientEncoding(connection_.get(), "UTF8") != 0)
            fail(server::ErrorText(connection_.get(), nullptr));
        if (!PQsendQuery(connection_.get(), statement.toUtf8().constData()) ||
            !PQsetSingleRowMode(connection_.get()))
            fail(server::ErrorText(connection_.get(), nullptr));
        take(); // the first row, or the end, tells the columns
        if (pending_)
            for (int i = 0; i < PQnfields(pending_.get()); ++i)
                record_.append(QSqlField(QString::fromUtf8(PQfname(pending_.get(), i))));
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
        pending_.reset(PQgetResult(connection_.get()));
        if (!pending_)
            return;
        const ExecStatusType status = PQresultStatus(pending_.get());
        if (status == PGRES_SINGLE_TUPLE)
            return;
        if (status != PGRES_TUPLES_OK) {
            const QString message = server::ErrorText(connection_.get(), pending_.get());
            pending_.reset();
            fail(message);
        }
        // The end: drain what follows so that the connection could be used again.
        while (PGresult* rest = PQgetResult(connection_.get()))
            PQclear(rest);
    }

    std::unique_ptr<PGconn, decltype(&PQfinish)> connection_;
    server::Result pending_{nullptr, &PQclear};
    QSqlRecord record_;
};

} // namespace

std::unique_ptr<RowStream> OpenRowStream(TADOConnection& connection, const QString& statement) {
    if (connection.onServer())
        return std::make_unique<ServerRows>(statement);
    return std::make_unique<FileRows>(connection, statement);
}

} // namespace krepiks
