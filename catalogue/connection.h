#pragma once
// The catalogue's connection: the file through SQLite, or the office's PostgreSQL server
// where the user's client settings define a "krepiks" service; the server sessions kept for
// reading, and the row writes of the queries.
#include <QObject>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <map>
#include <utility>
#include <vector>

struct pg_conn;

namespace krepiks {

// Kept as the original connection string; only Data Source is read here.
extern const char AdoConnectionString[];

// The value of key in an ADO-style connection string ("" for a pair of double quotes).
QString connectionStringValue(const QString& connectionString, const QString& key);
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

} // namespace krepiks
