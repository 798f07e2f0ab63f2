#include "catalogue/database.h"

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
#include <atomic>
#include <cmath>

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

// A writer that meets another process's lock waits this long before giving up.
constexpr int BusyTimeoutMs = 5000;

[[noreturn]] void fail(const QString& message) { throw EDatabaseError(message.toStdString()); }

// Provider-style texts, so that reports read as they would on the original platform.
QString providerMessage(const QSqlError& error, const QString& filePath) {
    const QString native = error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
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

} // namespace

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
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase TADOConnection::database() const { return QSqlDatabase::database(name_, false); }

void TADOConnection::noteStatement(const QString& statement) const {
    if (onStatement)
        onStatement(statement);
}

void TADOConnection::Open() {
    if (connected_)
        return;
    const QString source = connectionStringValue(ConnectionString, QStringLiteral("Data Source"));
    filePath_ = QFileInfo(QDir::current(), source).absoluteFilePath();
    const QFileInfo info(filePath_);
    if (!info.exists() || !info.isFile())
        fail(QStringLiteral("Could not find file '%1'.").arg(filePath_));

    QSqlDatabase db = QSqlDatabase::contains(name_) ? QSqlDatabase::database(name_, false)
                                                    : QSqlDatabase::addDatabase(
                                                          QStringLiteral("QSQLITE"), name_);
    // mode=rw opens read-write and never creates: a missing file stays missing.
    QUrl uri = QUrl::fromLocalFile(filePath_);
    uri.setQuery(QStringLiteral("mode=rw"));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
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

void TADOConnection::Close() {
    if (!connected_)
        return;
    emit closing();
    connected_ = false;
    QSqlDatabase db = database();
    if (db.isValid())
        db.close();
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
    if (!connection_->Connected())
        connection_->Open();
    statement_ = SQL.join(QLatin1Char('\n'));
    connection_->noteStatement(statement_);
    QSqlQuery query(connection_->database());
    query.setForwardOnly(true);
    if (!query.prepare(statement_))
        fail(providerMessage(query.lastError(), connection_->filePath()));
    for (int i = 0; i < Parameters.size(); ++i)
        query.bindValue(i, Parameters.at(i));
    if (!query.exec())
        fail(providerMessage(query.lastError(), connection_->filePath()));
    columns_ = query.record();
    rows_.clear();
    const int n = columns_.count();
    while (query.next()) {
        QVariantList row;
        row.reserve(n);
        for (int i = 0; i < n; ++i)
            row.append(query.value(i));
        rows_.push_back(std::move(row));
    }
    current_ = 0;
    state_ = State::Browse;
}

void TADOQuery::Close() {
    // An appended or edited row that was never posted is dropped here.
    state_ = State::Inactive;
    rows_.clear();
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
    if (current_ < static_cast<int>(rows_.size()))
        ++current_;
}

bool TADOQuery::Eof() const {
    return state_ == State::Inactive || current_ >= static_cast<int>(rows_.size());
}

int TADOQuery::RecordCount() const {
    requireActive();
    return static_cast<int>(rows_.size());
}

int TADOQuery::fieldIndex(const QString& name) const {
    for (int i = 0; i < columns_.count(); ++i)
        if (columns_.fieldName(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int TADOQuery::requireField(const QString& name) const {
    requireActive();
    const int index = fieldIndex(name);
    if (index < 0)
        fail(QStringLiteral("ADOQuery1: Field '%1' not found").arg(name));
    return index;
}

bool TADOQuery::HasField(const QString& name) const { return fieldIndex(name) >= 0; }

QVariant TADOQuery::FieldValue(const QString& name) const {
    const int index = requireField(name);
    if (state_ == State::Edit || state_ == State::Insert)
        return buffer_.at(index);
    if (current_ >= static_cast<int>(rows_.size()))
        return {};
    return rows_[current_].at(index);
}

double TADOQuery::FieldAsFloat(const QString& name) const {
    const QVariant value = FieldValue(name);
    if (value.isNull())
        return 0.0;
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const double number = value.toString().trimmed().toDouble(&ok);
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
    const QVariant value = FieldValue(name);
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
    if (rows_.empty()) {
        // Editing an empty result starts a new row, as the grid and the path store expect.
        Append();
        return;
    }
    buffer_ = rows_[current_];
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

QString TADOQuery::tableName() const {
    static const QRegularExpression from(QStringLiteral("\\bfrom\\s+([^\\s;]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = from.match(statement_);
    if (!match.hasMatch())
        fail(QStringLiteral("Insufficient key column information for updating or refreshing."));
    return match.captured(1);
}

QString TADOQuery::keyColumn() const {
    const QSqlIndex key = connection_->database().primaryIndex(tableName());
    if (key.count() == 1 && fieldIndex(key.fieldName(0)) >= 0)
        return columns_.fieldName(fieldIndex(key.fieldName(0)));
    fail(QStringLiteral("Insufficient key column information for updating or refreshing."));
}

void TADOQuery::Post() {
    requireActive();
    if (state_ == State::Browse)
        return;
    QSqlDatabase db = connection_->database();
    const QString table = tableName();
    QStringList names;
    QVariantList values;
    for (int i = 0; i < columns_.count(); ++i)
        if (changed_[i]) {
            names.append(quoted(columns_.fieldName(i)));
            values.append(buffer_[i]);
        }
    QSqlQuery query(db);
    QString statement;
    if (state_ == State::Insert) {
        if (names.isEmpty())
            statement = QStringLiteral("insert into %1 default values").arg(quoted(table));
        else
            statement = QStringLiteral("insert into %1 (%2) values (%3)")
                            .arg(quoted(table), names.join(QLatin1Char(',')),
                                 QStringList(names.size(), QStringLiteral("?"))
                                     .join(QLatin1Char(',')));
    } else {
        if (names.isEmpty()) {
            state_ = State::Browse;
            return;
        }
        QStringList sets;
        for (const QString& n : names)
            sets.append(n + QStringLiteral("=?"));
        const QString key = keyColumn();
        statement = QStringLiteral("update %1 set %2 where %3=?")
                        .arg(quoted(table), sets.join(QLatin1Char(',')), quoted(key));
        values.append(rows_[current_].at(fieldIndex(key)));
    }
    connection_->noteStatement(statement);
    if (!query.prepare(statement))
        fail(providerMessage(query.lastError(), connection_->filePath()));
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    if (!query.exec())
        fail(providerMessage(query.lastError(), connection_->filePath())); // stays in editing
    if (state_ == State::Insert) {
        // The engine assigned the key; keep it in the snapshot so the row can be edited.
        const QString key = [&] {
            const QSqlIndex index = db.primaryIndex(table);
            return index.count() == 1 ? index.fieldName(0) : QString();
        }();
        const int keyIndex = key.isEmpty() ? -1 : fieldIndex(key);
        if (keyIndex >= 0)
            buffer_[keyIndex] = query.lastInsertId();
        rows_.push_back(buffer_);
        current_ = static_cast<int>(rows_.size()) - 1;
    } else {
        rows_[current_] = buffer_;
    }
    buffer_.clear();
    changed_.clear();
    state_ = State::Browse;
}

void TADOQuery::Delete() {
    requireActive();
    Cancel();
    if (current_ >= static_cast<int>(rows_.size()))
        fail(QStringLiteral("Either BOF or EOF is True, or the current record has been "
                            "deleted. Requested operation requires a current record."));
    const QString key = keyColumn();
    const QString statement =
        QStringLiteral("delete from %1 where %2=?").arg(quoted(tableName()), quoted(key));
    connection_->noteStatement(statement);
    QSqlQuery query(connection_->database());
    if (!query.prepare(statement))
        fail(providerMessage(query.lastError(), connection_->filePath()));
    query.bindValue(0, rows_[current_].at(fieldIndex(key)));
    if (!query.exec())
        fail(providerMessage(query.lastError(), connection_->filePath()));
    rows_.erase(rows_.begin() + current_);
    if (current_ >= static_cast<int>(rows_.size()) && current_ > 0)
        --current_;
}

} // namespace krepiks
