#pragma once
// A query on the catalogue: a statement's whole result read at once into a snapshot, a
// static cursor over it, and append, edit and post of single rows written back through the
// connection.
#include "catalogue/catalogue_fields.h"
#include "catalogue/connection.h"

#include <QObject>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace krepiks {

// Checks that the result columns of a statement on table hold every field, each with a
// declared type that can carry it. Throws EDatabaseError in the provider's words, prefixed
// with "owner: " when owner is not empty.
void CheckFields(const TADOConnection& connection, const QString& owner, const QString& table,
                 const QSqlRecord& columns, const std::vector<FieldDef>& fields);
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
