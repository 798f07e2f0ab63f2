#pragma once
// The catalogue behind an ADO-shaped layer: one connection, queries with a static
// (snapshot) cursor, and append/edit/post of single rows. SQLite holds the data, or the
// office's PostgreSQL server where the user's client settings name one.
#include "catalogue/catalogue_fields.h"

#include <QObject>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <map>
#include <vector>

class QSqlError;
struct pg_conn;

namespace krepiks {

// Kept as the original connection string; only Data Source is read here.
extern const char AdoConnectionString[];

// The value of key in an ADO-style connection string ("" for a pair of double quotes).
QString connectionStringValue(const QString& connectionString, const QString& key);

// An engine error on the catalogue file, worded as the provider words it.
QString ProviderErrorText(const QSqlError& error, const QString& filePath);

// The table a "select * from <table> ..." statement reads, as written there; throws when the
// statement names none (the row then cannot be written back).
QString StatementTableName(const QString& statement);

// An identifier quoted for a statement of ours.
QString QuotedIdentifier(const QString& identifier);

class TADOConnection;

// Checks that the result columns of a statement on table hold every field, each with a
// declared type that can carry it. Throws EDatabaseError in the provider's words, prefixed
// with "owner: " when owner is not empty.
void CheckFields(const TADOConnection& connection, const QString& owner, const QString& table,
                 const QSqlRecord& columns, const std::vector<FieldDef>& fields);

// How long a statement waits for another process's lock: 5 s, or the milliseconds in
// KREPIKS_BUSY_TIMEOUT_MS when that is set (tests).
int BusyTimeoutMs();

class TADOConnection : public QObject {
    Q_OBJECT
public:
    explicit TADOConnection(QObject* parent = nullptr);
    ~TADOConnection() override;

    QString ConnectionString = QString::fromUtf8(AdoConnectionString);

    // Opens the server catalogue when a "krepiks" connection service is defined, otherwise
    // the file named by Data Source, relative to the current folder, read-write and never
    // creating it. Throws EDatabaseError.
    void Open();
    void Close();
    bool Connected() const { return connected_; }

    QSqlDatabase database() const;
    QString filePath() const { return filePath_; }
    // Whether the catalogue is the office's server rather than the file.
    bool onServer() const { return onServer_; }
    // Opens the connection when it is closed, or connects again when the server went away
    // since the last statement. Throws EDatabaseError.
    void Ensure();

    // A table or column name as the catalogue's engine keeps it.
    QString Identifier(const QString& name) const;
    // The single-column primary key of table as the engine names it; throws when it has none.
    QString KeyColumn(const QString& table) const;
    // Row writes of the queries, on columns named as the result names them. An insert
    // returns the key the engine assigned. An update or delete whose row is no longer as it
    // was read (originals: the read values of the columns set) throws, and nothing is written.
    QVariant InsertRow(const QString& table, const QStringList& columns, const QVariantList& values,
                       const QString& key);
    void UpdateRow(const QString& table, const QStringList& columns, const QVariantList& values,
                   const QVariantList& originals, const QString& key, const QVariant& keyValue);
    void DeleteRow(const QString& table, const QString& key, const QVariant& keyValue);

    // The declared (column, type) pairs of a server table, asked once per session.
    const std::vector<std::pair<QString, QString>>& ServerColumnTypes(const QString& table) const;

    // A second server session for reading rows while this one stays free: the one kept
    // from the last reading when it is still sound, else a new one. Throws EDatabaseError.
    pg_conn* TakeReader();
    // Keeps an idle reading session for the next reading (or ends it when it is not idle).
    void KeepReader(pg_conn* reader);

    // Every statement text handed to the engine, as issued.
    std::function<void(const QString&)> onStatement;
    void noteStatement(const QString& statement) const;

signals:
    // Emitted before the connection closes: every query on it closes too.
    void closing();

private:
    QSqlDatabase driverDatabase(const QString& driver);
    // Runs one statement that writes, with values for its '?' placeholders.
    struct Written {
        int rows = 0; // the rows it changed
        QVariant key; // the key an insert was given
    };
    Written write(const QString& statement, const QVariantList& values);
    void openServer();

    QString name_;
    QString filePath_;
    bool connected_ = false;
    bool onServer_ = false;
    pg_conn* reader_ = nullptr;
    // What a session has learnt of the server's tables: each costs a round trip to ask.
    mutable std::map<QString, std::vector<std::pair<QString, QString>>> columnTypes_;
    mutable std::map<QString, QString> keyColumns_;
};

// The catalogue's write lock, held from a read that decides a write until that write is
// committed: another process's writer waits meanwhile (up to BusyTimeoutMs) and then sees
// the row. Rolled back when let go uncommitted. Throws EDatabaseError.
class TWriteLock {
public:
    explicit TWriteLock(TADOConnection& connection);
    ~TWriteLock();
    TWriteLock(const TWriteLock&) = delete;
    TWriteLock& operator=(const TWriteLock&) = delete;

    void Commit();
    // Drops whatever was written under the lock; never throws.
    void Release();

private:
    TADOConnection& connection_;
    bool held_ = false;
};

class TADOQuery : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    explicit TADOQuery(TADOConnection* connection, QObject* parent = nullptr);

    // The statement lines; joined with newlines when opened.
    QStringList SQL;
    // Positional values for '?' placeholders.
    QVariantList Parameters;
    // The fields the query is declared with: opening fails when the result lacks one.
    std::vector<FieldDef> Fields;

    void Open();
    void Close();
    bool Active() const { return state_ != State::Inactive; }
    State state() const { return state_; }

    // Close, clear the statement, add it as the only line, open.
    void Issue(const QString& statement, const QVariantList& parameters = {});

    void First();
    void Next();
    bool Eof() const;
    int RecordCount() const;

    // Column lookup ignores case. A row-less result reads 0 and "".
    double FieldAsFloat(const QString& name) const;
    QString FieldAsString(const QString& name) const;
    QVariant FieldValue(const QString& name) const;
    bool HasField(const QString& name) const;

    void Append();
    void Edit();
    void SetField(const QString& name, const QVariant& value);
    void Post();
    void Cancel();
    void Delete();

    TADOConnection* connection() const { return connection_; }

private:
    int fieldIndex(const QString& name) const; // -1 when absent
    int requireField(const QString& name) const;
    QString tableName() const;
    QString keyColumn() const;
    void requireActive() const;

    TADOConnection* connection_;
    State state_ = State::Inactive;
    int rowCount() const;
    const QVariant& cell(int row, int column) const;
    // The current value of a field, without a copy.
    const QVariant& fieldRef(const QString& name) const;

    QSqlRecord columns_;
    QStringList names_; // the column names, looked up once per opening
    // The snapshot, row after row. A close keeps its room for the next opening, so a refill
    // of a large catalogue does not allocate it all again.
    std::vector<QVariant> cells_;
    int current_ = 0;
    QVariantList buffer_;
    std::vector<bool> changed_;
    QString statement_;
};

} // namespace krepiks
