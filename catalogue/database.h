#pragma once
// The catalogue file behind an ADO-shaped layer: one connection, queries with a static
// (snapshot) cursor, and append/edit/post of single rows. SQLite holds the data.
#include <QObject>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <vector>

class QSqlError;

namespace krepiks {

// Kept as the original connection string; only Data Source is read here.
extern const char AdoConnectionString[];

// The value of key in an ADO-style connection string ("" for a pair of double quotes).
QString connectionStringValue(const QString& connectionString, const QString& key);

// An engine error on the catalogue file, worded as the provider words it.
QString ProviderErrorText(const QSqlError& error, const QString& filePath);

class TADOConnection : public QObject {
    Q_OBJECT
public:
    explicit TADOConnection(QObject* parent = nullptr);
    ~TADOConnection() override;

    QString ConnectionString = QString::fromUtf8(AdoConnectionString);

    // Opens the file named by Data Source, relative to the current folder, read-write and
    // never creating it. Throws EDatabaseError.
    void Open();
    void Close();
    bool Connected() const { return connected_; }

    QSqlDatabase database() const;
    QString filePath() const { return filePath_; }

    // Every statement text handed to the engine, as issued.
    std::function<void(const QString&)> onStatement;
    void noteStatement(const QString& statement) const;

signals:
    // Emitted before the connection closes: every query on it closes too.
    void closing();

private:
    QString name_;
    QString filePath_;
    bool connected_ = false;
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
