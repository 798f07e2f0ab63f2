#include "catalogue/database.h"

#include "catalogue/connection_service.h"
#include "catalogue/jet_file.h"
#include "catalogue/server_engine.h"
#include "platform/exception.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <sqlite3.h>
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

// Provider-style texts, so that reports read as they would on the original platform.
QString providerMessage(const QSqlError& error, const QString& filePath) {
    const QString native = error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    // SQLITE_BUSY, SQLITE_LOCKED: another process held the file past the busy timeout.
    if (native == QLatin1String("5") || native == QLatin1String("6") ||
        text.contains(QLatin1String("database is locked")) ||
        text.contains(QLatin1String("database table is locked")))
        return QStringLiteral("Could not update; currently locked.");
    if (native == QLatin1String("26") || native == QLatin1String("11") ||
        text.contains(QLatin1String("file is not a database")) ||
        text.contains(QLatin1String("malformed")))
        return QStringLiteral("Unrecognized database format '%1'.").arg(filePath);
    static const QRegularExpression noTable(QStringLiteral("no such table: (\\S+)"));
    const auto match = noTable.match(text);
    if (match.hasMatch())
        return QStringLiteral("The Microsoft Jet database engine cannot find the input table or "
                              "query '%1'.  Make sure it exists and that its name is spelled "
                              "correctly.")
            .arg(match.captured(1));
    return text;
}

QString quoted(const QString& identifier) {
    QString escaped = identifier;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

[[noreturn]] void failEngine(sqlite3* handle, int code, const QString& filePath) {
    const QSqlError error(QString(), QString::fromUtf8(sqlite3_errmsg(handle)),
                          QSqlError::StatementError, QString::number(code));
    fail(providerMessage(error, filePath));
}

void bind(sqlite3* handle, sqlite3_stmt* statement, int index, const QVariant& value,
          const QString& filePath) {
    int code = SQLITE_OK;
    if (value.isNull()) {
        code = sqlite3_bind_null(statement, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            code = sqlite3_bind_int64(statement, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            code = sqlite3_bind_double(statement, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            code = sqlite3_bind_blob64(statement, index, bytes.constData(),
                                       static_cast<sqlite3_uint64>(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            code = sqlite3_bind_text64(statement, index, text.constData(),
                                       static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
            break;
        }
        }
    }
    if (code != SQLITE_OK)
        failEngine(handle, code, filePath);
}

// Straight on the engine's handle: going through a QSqlQuery costs a converted copy of every
// value of every row, which made a refill of a large catalogue many times slower than the
// engine itself. Values come out as the Qt driver gives them: integers as qlonglong, reals
// as double, text as QString, blobs as QByteArray, and no value as a null.
void ReadSnapshot(const QSqlDatabase& db, const QString& text, const QVariantList& parameters,
                  const QString& filePath, QSqlRecord& columns, std::vector<QVariant>& cells) {
    if (PGconn* server = server::Handle(db)) {
        server::ReadSnapshot(server, text, parameters, columns, cells);
        return;
    }
    const QVariant driverHandle = db.driver() ? db.driver()->handle() : QVariant();
    sqlite3* handle = driverHandle.isValid() && qstrcmp(driverHandle.typeName(), "sqlite3*") == 0
                          ? *static_cast<sqlite3* const*>(driverHandle.constData())
                          : nullptr;
    if (!handle)
        fail(QStringLiteral("Operation is not allowed when the object is closed."));
    const QByteArray utf8 = text.toUtf8();
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int prepared =
        sqlite3_prepare_v2(handle, utf8.constData(), static_cast<int>(utf8.size()), &raw, &tail);
    Statement statement(raw, &sqlite3_finalize);
    if (prepared != SQLITE_OK)
        failEngine(handle, prepared, filePath);
    if (!statement)
        fail(QStringLiteral("Command text was not set for the command object."));
    if (!QByteArray(tail, utf8.constData() + utf8.size() - tail).trimmed().isEmpty())
        fail(QStringLiteral("Unable to execute multiple statements at a time"));
    if (sqlite3_bind_parameter_count(statement.get()) != parameters.size())
        fail(QStringLiteral("Parameter count mismatch"));
    for (int i = 0; i < parameters.size(); ++i)
        bind(handle, statement.get(), i + 1, parameters.at(i), filePath);

    const int n = sqlite3_column_count(statement.get());
    columns.clear();
    for (int i = 0; i < n; ++i)
        columns.append(QSqlField(QString::fromUtf8(sqlite3_column_name(statement.get(), i))));
    for (;;) {
        const int step = sqlite3_step(statement.get());
        if (step == SQLITE_DONE)
            break;
        // A row that cannot be read fails the opening: a cut-short list is no snapshot.
        if (step != SQLITE_ROW)
            failEngine(handle, step, filePath);
        sqlite3_stmt* s = statement.get();
        for (int i = 0; i < n; ++i) {
            switch (sqlite3_column_type(s, i)) {
            case SQLITE_INTEGER:
                cells.emplace_back(static_cast<qlonglong>(sqlite3_column_int64(s, i)));
                break;
            case SQLITE_FLOAT:
                cells.emplace_back(sqlite3_column_double(s, i));
                break;
            case SQLITE_TEXT:
                cells.emplace_back(
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, i)),
                                      sqlite3_column_bytes(s, i)));
                break;
            case SQLITE_BLOB:
                cells.emplace_back(QByteArray(static_cast<const char*>(sqlite3_column_blob(s, i)),
                                              sqlite3_column_bytes(s, i)));
                break;
            default:
                cells.emplace_back(QMetaType::fromType<QString>());
                break;
            }
        }
    }
}

QString unquoted(const QString& identifier) {
    if (identifier.size() >= 2 &&
        ((identifier.front() == QLatin1Char('"') && identifier.back() == QLatin1Char('"')) ||
         (identifier.front() == QLatin1Char('[') && identifier.back() == QLatin1Char(']')) ||
         (identifier.front() == QLatin1Char('`') && identifier.back() == QLatin1Char('`'))))
        return identifier.mid(1, identifier.size() - 2);
    return identifier;
}

} // namespace

int BusyTimeoutMs() {
    bool ok = false;
    const int override = qEnvironmentVariableIntValue("KREPIKS_BUSY_TIMEOUT_MS", &ok);
    return ok && override >= 0 ? override : 5000;
}

void CheckFields(const TADOConnection& connection, const QString& owner, const QString& table,
                 const QSqlRecord& columns, const std::vector<FieldDef>& fields) {
    const QString prefix = owner.isEmpty() ? QString() : owner + QStringLiteral(": ");
    QStringList names;
    for (int i = 0; i < columns.count(); ++i)
        names << columns.fieldName(i);
    if (const QString missing = MissingField(names, fields); !missing.isEmpty())
        fail(prefix + missing);
    // The declared types, as the catalogue states them; a result's values do not tell them.
    DeclaredColumns types;
    if (server::Handle(connection.database())) {
        types = connection.ServerColumnTypes(table);
    } else {
        QSqlQuery info(connection.database());
        if (!info.exec(QStringLiteral("pragma table_info(%1)").arg(quoted(unquoted(table)))))
            fail(providerMessage(info.lastError(), connection.filePath()));
        while (info.next())
            types.emplace_back(info.value(1).toString(), info.value(2).toString());
    }
    if (const QString mismatch = DeclaredTypeProblem(types, fields); !mismatch.isEmpty())
        fail(prefix + mismatch);
}

QString ProviderErrorText(const QSqlError& error, const QString& filePath) {
    return providerMessage(error, filePath);
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
        fail(QStringLiteral("The catalogue '%1' is a Microsoft Access (Jet 4.0) file. Convert it "
                            "into a new file with \"krepiks-catalogue from-jet bolti.mdb "
                            "bolti-new.mdb\" and put the new file in its place as bolti.mdb")
                 .arg(filePath_));
    else if (jet.format != JetFormat::NotJet)
        fail(QStringLiteral("The catalogue %1")
                 .arg(JetRefusal(jet, QLatin1Char('\'') + filePath_ + QLatin1Char('\''))));

    QSqlDatabase db = driverDatabase(QStringLiteral("QSQLITE"));
    // mode=rw opens read-write and never creates: a missing file stays missing.
    QUrl uri = QUrl::fromLocalFile(filePath_);
    uri.setQuery(QStringLiteral("mode=rw"));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs()));
    if (!db.open())
        fail(providerMessage(db.lastError(), filePath_));
    // SQLite reads the header lazily; read it now so a foreign file fails here, unchanged.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("select count(*) from sqlite_master"))) {
        const QString message = providerMessage(probe.lastError(), filePath_);
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
    return onServer_ ? server::FoldedIdentifier(name) : unquoted(name);
}

QString TADOConnection::KeyColumn(const QString& table) const {
    QString key;
    if (PGconn* server = server::Handle(database())) {
        const auto known = keyColumns_.find(table);
        key = known != keyColumns_.end() ? known->second
                                         : (keyColumns_[table] = server::PrimaryKey(server, table));
    } else {
        const QSqlIndex index = database().primaryIndex(unquoted(table));
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
        fail(providerMessage(query.lastError(), filePath_));
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    if (!query.exec())
        fail(providerMessage(query.lastError(), filePath_));
    written.rows = query.numRowsAffected();
    written.key = query.lastInsertId();
    return written;
}

QVariant TADOConnection::InsertRow(const QString& table, const QStringList& columns,
                                   const QVariantList& values, const QString& key) {
    QStringList names;
    for (const QString& column : columns)
        names.append(quoted(column));
    QString statement =
        names.isEmpty()
            ? QStringLiteral("insert into %1 default values").arg(quoted(Identifier(table)))
            : QStringLiteral("insert into %1 (%2) values (%3)")
                  .arg(quoted(Identifier(table)), names.join(QLatin1Char(',')),
                       QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')));
    // The server says the key it assigned only when asked.
    if (onServer_ && !key.isEmpty())
        statement += QStringLiteral(" returning %1").arg(quoted(key));
    return write(statement, values).key;
}

void TADOConnection::UpdateRow(const QString& table, const QStringList& columns,
                               const QVariantList& values, const QVariantList& originals,
                               const QString& key, const QVariant& keyValue) {
    QStringList sets;
    QStringList criteria{quoted(key) + QStringLiteral("=?")};
    for (const QString& column : columns) {
        sets.append(quoted(column) + QStringLiteral("=?"));
        // Null-safe: a column read empty must still be empty.
        criteria.append(quoted(column) + (onServer_ ? QStringLiteral(" is not distinct from ?")
                                                    : QStringLiteral(" is ?")));
    }
    QVariantList bound = values;
    bound.append(keyValue);
    bound.append(originals);
    if (write(QStringLiteral("update %1 set %2 where %3")
                  .arg(quoted(Identifier(table)), sets.join(QLatin1Char(',')),
                       criteria.join(QStringLiteral(" and "))),
              bound)
            .rows == 0)
        fail(QString::fromLatin1(RowChanged));
}

void TADOConnection::DeleteRow(const QString& table, const QString& key, const QVariant& keyValue) {
    if (write(
            QStringLiteral("delete from %1 where %2=?").arg(quoted(Identifier(table)), quoted(key)),
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

namespace {

// The one server lock every Krepiks takes to add a variant (an arbitrary fixed number).
constexpr qlonglong VariantNamesLock = 0x4b726570696b73;

void runLockStatement(TADOConnection& connection, const QString& statement) {
    connection.noteStatement(statement);
    if (PGconn* server = server::Handle(connection.database())) {
        server::Exec(server, statement);
        return;
    }
    QSqlQuery query(connection.database());
    if (!query.exec(statement))
        fail(providerMessage(query.lastError(), connection.filePath()));
}

} // namespace

TWriteLock::TWriteLock(TADOConnection& connection) : connection_(connection) {
    connection_.Ensure();
    if (connection_.onServer()) {
        // Readers never wait on the server; only adders queue behind this lock, and no
        // longer than another process's file lock would hold them.
        runLockStatement(connection_, QStringLiteral("begin"));
        held_ = true;
        runLockStatement(connection_,
                         QStringLiteral("set local lock_timeout = %1").arg(BusyTimeoutMs()));
        runLockStatement(connection_,
                         QStringLiteral("select pg_advisory_xact_lock(%1)").arg(VariantNamesLock));
        return;
    }
    // Immediate: the lock is taken now, before the read, not at the first write after it.
    runLockStatement(connection_, QStringLiteral("begin immediate"));
    held_ = true;
}

TWriteLock::~TWriteLock() {
    Release();
}

void TWriteLock::Commit() {
    if (!held_)
        return;
    runLockStatement(connection_, QStringLiteral("commit")); // rolled back later on failure
    held_ = false;
}

void TWriteLock::Release() {
    if (!held_)
        return;
    held_ = false;
    // Closing the connection has ended the transaction already.
    if (!connection_.Connected())
        return;
    try {
        runLockStatement(connection_, QStringLiteral("rollback"));
    } catch (const EDatabaseError&) {
        // A lost server has rolled back on its own.
    }
}

TADOQuery::TADOQuery(TADOConnection* connection, QObject* parent)
    : QObject(parent), connection_(connection) {
    connect(connection_, &TADOConnection::closing, this, &TADOQuery::Close);
}

void TADOQuery::requireActive() const {
    if (state_ == State::Inactive)
        fail(QStringLiteral("Operation is not allowed when the object is closed."));
}

void TADOQuery::Issue(const QString& statement, const QVariantList& parameters) {
    Close();
    SQL.clear();
    SQL.append(statement);
    Parameters = parameters;
    Open();
}

void TADOQuery::Open() {
    if (state_ != State::Inactive)
        return;
    connection_->Ensure();
    statement_ = SQL.join(QLatin1Char('\n'));
    connection_->noteStatement(statement_);
    try {
        ReadSnapshot(connection_->database(), statement_, Parameters, connection_->filePath(),
                     columns_, cells_);
    } catch (...) {
        cells_.clear();
        throw;
    }
    if (!Fields.empty()) {
        try {
            CheckFields(*connection_, objectName(), tableName(), columns_, Fields);
        } catch (...) {
            cells_.clear();
            throw;
        }
    }
    names_.clear();
    for (int i = 0; i < columns_.count(); ++i)
        names_.append(columns_.fieldName(i));
    current_ = 0;
    state_ = State::Browse;
}

void TADOQuery::Close() {
    // An appended or edited row that was never posted is dropped here.
    state_ = State::Inactive;
    cells_.clear();
    buffer_.clear();
    changed_.clear();
    current_ = 0;
}

void TADOQuery::First() {
    requireActive();
    if (state_ != State::Browse)
        Post();
    current_ = 0;
}

void TADOQuery::Next() {
    requireActive();
    if (state_ != State::Browse)
        Post();
    if (current_ < rowCount())
        ++current_;
}

bool TADOQuery::Eof() const {
    return state_ == State::Inactive || current_ >= rowCount();
}

int TADOQuery::RecordCount() const {
    requireActive();
    return rowCount();
}

int TADOQuery::rowCount() const {
    return names_.isEmpty() ? 0 : static_cast<int>(cells_.size() / names_.size());
}

const QVariant& TADOQuery::cell(int row, int column) const {
    return cells_[static_cast<std::size_t>(row) * names_.size() + column];
}

int TADOQuery::fieldIndex(const QString& name) const {
    for (int i = 0; i < names_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int TADOQuery::requireField(const QString& name) const {
    requireActive();
    const int index = fieldIndex(name);
    if (index < 0)
        fail((objectName().isEmpty() ? QString() : objectName() + QStringLiteral(": ")) +
             QStringLiteral("Field '%1' not found").arg(name));
    return index;
}

bool TADOQuery::HasField(const QString& name) const {
    return fieldIndex(name) >= 0;
}

const QVariant& TADOQuery::fieldRef(const QString& name) const {
    static const QVariant none;
    const int index = requireField(name);
    if (state_ == State::Edit || state_ == State::Insert)
        return buffer_.at(index);
    if (current_ >= rowCount())
        return none;
    return cell(current_, index);
}

QVariant TADOQuery::FieldValue(const QString& name) const {
    return fieldRef(name);
}

double TADOQuery::FieldAsFloat(const QString& name) const {
    const QVariant& value = fieldRef(name);
    if (value.isNull())
        return 0.0;
    if (value.typeId() == QMetaType::QString) {
        // Text that is a number reads as that number, the spelled-out infinities included.
        const QString text = value.toString().trimmed();
        static const QRegularExpression infinity(QStringLiteral("^([+-]?)infinity$"),
                                                 QRegularExpression::CaseInsensitiveOption);
        if (const auto match = infinity.match(text); match.hasMatch())
            return match.captured(1) == QLatin1String("-") ? -HUGE_VAL : HUGE_VAL;
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (!ok)
            fail(QStringLiteral("Could not convert variant of type (String) into type (Double)"));
        return number;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok)
        fail(QStringLiteral("Could not convert variant into type (Double)"));
    return number;
}

QString TADOQuery::FieldAsString(const QString& name) const {
    const QVariant& value = fieldRef(name);
    return value.isNull() ? QString() : value.toString();
}

void TADOQuery::Append() {
    requireActive();
    if (state_ != State::Browse)
        Post();
    buffer_ = QVariantList(columns_.count());
    changed_.assign(columns_.count(), false);
    state_ = State::Insert;
}

void TADOQuery::Edit() {
    requireActive();
    if (state_ != State::Browse)
        return;
    if (rowCount() == 0) {
        // Editing an empty result starts a new row, as the grid and the path store expect.
        Append();
        return;
    }
    const auto row = cells_.begin() + static_cast<std::ptrdiff_t>(current_) * names_.size();
    buffer_ = QVariantList(row, row + names_.size());
    changed_.assign(columns_.count(), false);
    state_ = State::Edit;
}

void TADOQuery::SetField(const QString& name, const QVariant& value) {
    const int index = requireField(name);
    if (state_ == State::Browse)
        Edit();
    buffer_[index] = value;
    changed_[index] = true;
}

void TADOQuery::Cancel() {
    if (state_ == State::Edit || state_ == State::Insert) {
        buffer_.clear();
        changed_.clear();
        state_ = State::Browse;
    }
}

QString StatementTableName(const QString& statement) {
    static const QRegularExpression from(QStringLiteral("\\bfrom\\s+([^\\s;]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = from.match(statement);
    if (!match.hasMatch())
        fail(QStringLiteral("Insufficient key column information for updating or refreshing."));
    return match.captured(1);
}

QString QuotedIdentifier(const QString& identifier) {
    return quoted(identifier);
}

QString TADOQuery::tableName() const {
    return StatementTableName(statement_);
}

QString TADOQuery::keyColumn() const {
    const QString key = connection_->KeyColumn(tableName());
    if (fieldIndex(key) < 0)
        fail(QStringLiteral("Insufficient key column information for updating or refreshing."));
    return columns_.fieldName(fieldIndex(key));
}

void TADOQuery::Post() {
    requireActive();
    if (state_ == State::Browse)
        return;
    const QString table = tableName();
    QStringList names;
    QVariantList values;
    QVariantList originals;
    for (int i = 0; i < columns_.count(); ++i)
        if (changed_[i]) {
            names.append(columns_.fieldName(i));
            values.append(buffer_[i]);
            if (state_ == State::Edit)
                originals.append(cell(current_, i));
        }
    if (state_ == State::Insert) {
        QString key;
        try {
            key = keyColumn();
        } catch (const EDatabaseError&) {
            // A table without a key takes the row all the same; it just cannot be edited.
        }
        const QVariant assigned = connection_->InsertRow(table, names, values, key);
        // The engine assigned the key; keep it in the snapshot so the row can be edited.
        if (!key.isEmpty())
            buffer_[fieldIndex(key)] = assigned;
        cells_.insert(cells_.end(), buffer_.begin(), buffer_.end());
        current_ = rowCount() - 1;
    } else {
        if (!names.isEmpty()) {
            const QString key = keyColumn();
            connection_->UpdateRow(table, names, values, originals, key,
                                   cell(current_, fieldIndex(key)));
        }
        std::copy(buffer_.begin(), buffer_.end(),
                  cells_.begin() + static_cast<std::ptrdiff_t>(current_) * names_.size());
    }
    buffer_.clear();
    changed_.clear();
    state_ = State::Browse;
}

void TADOQuery::Delete() {
    requireActive();
    Cancel();
    if (current_ >= rowCount())
        fail(QStringLiteral("Either BOF or EOF is True, or the current record has been "
                            "deleted. Requested operation requires a current record."));
    const QString key = keyColumn();
    connection_->DeleteRow(tableName(), key, cell(current_, fieldIndex(key)));
    const auto row = cells_.begin() + static_cast<std::ptrdiff_t>(current_) * names_.size();
    cells_.erase(row, row + names_.size());
    if (current_ >= rowCount() && current_ > 0)
        --current_;
}

} // namespace krepiks
