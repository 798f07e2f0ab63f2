#include "catalogue/connection.h"

#include "catalogue/connection_service.h"
#include "catalogue/jet_file.h"
#include "catalogue/server_engine.h"
#include "catalogue/sql_text.h"
#include "catalogue/sqlite_engine.h"
#include "platform/exception.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QUrl>
#include <atomic>
#include <cstdlib>
#include <utility>

namespace krepiks {

const char AdoConnectionString[] =
    "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=bolti.mdb;"
    "Mode=Share Deny None;Extended Properties=\"\";Persist Security Info=False;"
    "Jet OLEDB:System database=\"\";Jet OLEDB:Registry Path=\"\";"
    "Jet OLEDB:Database Password=\"\";Jet OLEDB:Engine Type=5;"
    "Jet OLEDB:Database Locking Mode=1;Jet OLEDB:Global Partial Bulk Ops=2;"
    "Jet OLEDB:Global Bulk Transactions=1;Jet OLEDB:New Database Password=\"\";"
    "Jet OLEDB:Create System Database=False;Jet OLEDB:Encrypt Database=False;"
    "Jet OLEDB:Don't Copy Locale on Compact=False;"
    "Jet OLEDB:Compact Without Replica Repair=False;Jet OLEDB:SFP=False";
namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

} // namespace

int BusyTimeoutMs() {
    bool ok = false;
    const int override = qEnvironmentVariableIntValue("KREPIKS_BUSY_TIMEOUT_MS", &ok);
    return ok && override >= 0 ? override : 5000;
}

QString connectionStringValue(const QString& connectionString, const QString& key) {
    const QStringList pairs = connectionString.split(QLatin1Char(';'));
    for (const QString& pair : pairs) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        if (pair.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QString value = pair.mid(eq + 1).trimmed();
        if (value == QLatin1String("\"\""))
            value.clear();
        return value;
    }
    return {};
}
TADOConnection::TADOConnection(QObject* parent) : QObject(parent) {
    static std::atomic<int> counter{0};
    name_ = QStringLiteral("ADOConnection%1").arg(++counter);
}

TADOConnection::~TADOConnection() {
    Close();
    if (reader_)
        PQfinish(reader_);
    if (QSqlDatabase::contains(name_)) {
        database().close();
        QSqlDatabase::removeDatabase(name_);
    }
}

QSqlDatabase TADOConnection::database() const {
    return QSqlDatabase::database(name_, false);
}

void TADOConnection::noteStatement(const QString& statement) const {
    if (onStatement)
        onStatement(statement);
}

void TADOConnection::Open() {
    if (connected_)
        return;
    if (!CatalogueServiceFile().isEmpty()) {
        openServer();
        return;
    }
    onServer_ = false;
    const QString source = connectionStringValue(ConnectionString, QStringLiteral("Data Source"));
    filePath_ = QFileInfo(QDir::current(), source).absoluteFilePath();
    const QFileInfo info(filePath_);
    if (!info.exists() || !info.isFile())
        fail(QStringLiteral("Could not find file '%1'.").arg(filePath_));
    // An office's Access catalogue is not SQLite's: say what it is and how to bring it over,
    // before SQLite calls it a foreign format.
    if (const JetHeader jet = ReadJetHeaderOf(filePath_); jet.format == JetFormat::Jet4)
        fail(QStringLiteral("Каталог '%1' — файл Microsoft Access (Jet 4.0). Перенесите его в "
                            "новый файл командой \"krepiks-catalogue from-jet bolti.mdb "
                            "bolti-new.mdb\" и положите новый файл на его место под именем "
                            "bolti.mdb")
                 .arg(filePath_));
    else if (jet.format != JetFormat::NotJet)
        fail(QStringLiteral("Каталог %1")
                 .arg(JetRefusal(jet, QLatin1Char('\'') + filePath_ + QLatin1Char('\''))));

    QSqlDatabase db = driverDatabase(QStringLiteral("QSQLITE"));
    // mode=rw opens read-write and never creates: a missing file stays missing.
    QUrl uri = QUrl::fromLocalFile(filePath_);
    uri.setQuery(QStringLiteral("mode=rw"));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs()));
    if (!db.open())
        fail(ProviderErrorText(db.lastError(), filePath_));
    // SQLite reads the header lazily; read it now so a foreign file fails here, unchanged.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("select count(*) from sqlite_master"))) {
        const QString message = ProviderErrorText(probe.lastError(), filePath_);
        probe = QSqlQuery();
        db.close();
        fail(message);
    }
    connected_ = true;
}

QSqlDatabase TADOConnection::driverDatabase(const QString& driver) {
    if (QSqlDatabase::contains(name_)) {
        if (QSqlDatabase::database(name_, false).driverName() == driver)
            return QSqlDatabase::database(name_, false);
        QSqlDatabase::removeDatabase(name_);
    }
    return QSqlDatabase::addDatabase(driver, name_);
}

void TADOConnection::openServer() {
    onServer_ = true;
    filePath_.clear();
    QSqlDatabase db = driverDatabase(QStringLiteral("QPSQL"));
    PGconn* kept = db.isOpen() ? server::Handle(db) : nullptr;
    // Reads whatever the server sent meanwhile: a session it ended shows as lost here.
    if (kept && PQconsumeInput(kept) && !server::Lost(kept)) {
        connected_ = true; // the session kept from the last closing
        return;
    }
    db.close();
    columnTypes_.clear();
    keyColumns_.clear();
    // Host, database, user and password all come from the service and libpq's own files.
    db.setConnectOptions(QStringLiteral("service=%1").arg(QLatin1String(CatalogueService)));
    if (!db.open()) {
        QString message = db.lastError().databaseText().trimmed();
        if (message.isEmpty())
            message = db.lastError().text();
        fail(message);
    }
    PGconn* server = server::Handle(db);
    if (!server || PQsetClientEncoding(server, "UTF8") != 0) {
        db.close();
        fail(QStringLiteral("The catalogue server does not take UTF-8 text."));
    }
    connected_ = true;
}

const std::vector<std::pair<QString, QString>>&
TADOConnection::ServerColumnTypes(const QString& table) const {
    const auto known = columnTypes_.find(table);
    if (known != columnTypes_.end())
        return known->second;
    return columnTypes_[table] = server::DeclaredTypes(server::Handle(database()), table);
}

pg_conn* TADOConnection::TakeReader() {
    PGconn* reader = std::exchange(reader_, nullptr);
    if (reader && PQconsumeInput(reader) && !server::Lost(reader) &&
        PQtransactionStatus(reader) == PQTRANS_IDLE)
        return reader;
    if (reader)
        PQfinish(reader);
    reader = PQconnectdb(QByteArray("service=").append(CatalogueService).constData());
    if (PQstatus(reader) != CONNECTION_OK || PQsetClientEncoding(reader, "UTF8") != 0) {
        const QString message = server::ErrorText(reader, nullptr);
        PQfinish(reader);
        fail(message);
    }
    return reader;
}

void TADOConnection::KeepReader(pg_conn* reader) {
    if (!reader)
        return;
    if (reader_ || server::Lost(reader) || PQtransactionStatus(reader) != PQTRANS_IDLE) {
        PQfinish(reader);
        return;
    }
    reader_ = reader;
}

void TADOConnection::Ensure() {
    if (connected_ && onServer_ && server::Lost(server::Handle(database())))
        Close();
    if (!connected_)
        Open();
}

QString TADOConnection::Identifier(const QString& name) const {
    return onServer_ ? server::FoldedIdentifier(name) : UnquotedIdentifier(name);
}

QString TADOConnection::KeyColumn(const QString& table) const {
    QString key;
    if (PGconn* server = server::Handle(database())) {
        const auto known = keyColumns_.find(table);
        key = known != keyColumns_.end() ? known->second
                                         : (keyColumns_[table] = server::PrimaryKey(server, table));
    } else {
        const QSqlIndex index = database().primaryIndex(UnquotedIdentifier(table));
        if (index.count() == 1)
            key = index.fieldName(0);
    }
    if (key.isEmpty())
        fail(QStringLiteral("Insufficient key column information for updating or refreshing."));
    return key;
}

namespace {

// What the optimistic check says when the row read is no longer there as it was read.
const char RowChanged[] = "Row cannot be located for updating. Some values may have been "
                          "changed since it was last read.";

} // namespace

TADOConnection::Written TADOConnection::write(const QString& statement,
                                              const QVariantList& values) {
    noteStatement(statement);
    Written written;
    if (PGconn* server = server::Handle(database())) {
        const server::Result result = server::Exec(server, statement, values);
        written.rows = std::atoi(PQcmdTuples(result.get()));
        if (PQntuples(result.get()) == 1 && PQnfields(result.get()) == 1)
            written.key = server::CellValue(result.get(), 0, 0); // what "returning" gave
        return written;
    }
    QSqlQuery query(database());
    if (!query.prepare(statement))
        fail(ProviderErrorText(query.lastError(), filePath_));
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    if (!query.exec())
        fail(ProviderErrorText(query.lastError(), filePath_));
    written.rows = query.numRowsAffected();
    written.key = query.lastInsertId();
    return written;
}

QVariant TADOConnection::InsertRow(const QString& table, const QStringList& columns,
                                   const QVariantList& values, const QString& key) {
    QStringList names;
    for (const QString& column : columns)
        names.append(QuotedIdentifier(column));
    QString statement =
        names.isEmpty()
            ? QStringLiteral("insert into %1 default values")
                  .arg(QuotedIdentifier(Identifier(table)))
            : QStringLiteral("insert into %1 (%2) values (%3)")
                  .arg(QuotedIdentifier(Identifier(table)), names.join(QLatin1Char(',')),
                       QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')));
    // The server says the key it assigned only when asked.
    if (onServer_ && !key.isEmpty())
        statement += QStringLiteral(" returning %1").arg(QuotedIdentifier(key));
    return write(statement, values).key;
}

void TADOConnection::UpdateRow(const QString& table, const QStringList& columns,
                               const QVariantList& values, const QVariantList& originals,
                               const QString& key, const QVariant& keyValue) {
    QStringList sets;
    QStringList criteria{QuotedIdentifier(key) + QStringLiteral("=?")};
    for (const QString& column : columns) {
        sets.append(QuotedIdentifier(column) + QStringLiteral("=?"));
        // Null-safe: a column read empty must still be empty.
        criteria.append(QuotedIdentifier(column) + (onServer_
                                                        ? QStringLiteral(" is not distinct from ?")
                                                        : QStringLiteral(" is ?")));
    }
    QVariantList bound = values;
    bound.append(keyValue);
    bound.append(originals);
    if (write(QStringLiteral("update %1 set %2 where %3")
                  .arg(QuotedIdentifier(Identifier(table)), sets.join(QLatin1Char(',')),
                       criteria.join(QStringLiteral(" and "))),
              bound)
            .rows == 0)
        fail(QString::fromLatin1(RowChanged));
}

void TADOConnection::DeleteRow(const QString& table, const QString& key, const QVariant& keyValue) {
    if (write(QStringLiteral("delete from %1 where %2=?")
                  .arg(QuotedIdentifier(Identifier(table)), QuotedIdentifier(key)),
              {keyValue})
            .rows == 0)
        fail(QString::fromLatin1(RowChanged));
}

void TADOConnection::Close() {
    if (!connected_)
        return;
    emit closing();
    connected_ = false;
    QSqlDatabase db = database();
    // Like the provider's session pooling, a server session that is idle and sound stays
    // open for the next opening: every statement there sees the others' committed rows
    // anyway, and signing in again costs more than a refill.
    PGconn* server = onServer_ ? server::Handle(db) : nullptr;
    if (server && !server::Lost(server) && PQtransactionStatus(server) == PQTRANS_IDLE)
        return;
    if (db.isValid())
        db.close();
}

} // namespace krepiks
