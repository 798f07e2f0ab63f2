#include "catalogue/query.h"

#include "catalogue/server_engine.h"
#include "catalogue/sql_text.h"
#include "catalogue/sqlite_engine.h"
#include "platform/exception.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>

namespace krepiks {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

// The snapshot comes straight from the engine's handle, the file's or the server's.
void ReadSnapshot(const QSqlDatabase& db, const QString& text, const QVariantList& parameters,
                  const QString& filePath, QSqlRecord& columns, std::vector<QVariant>& cells) {
    if (PGconn* server = server::Handle(db)) {
        server::ReadSnapshot(server, text, parameters, columns, cells);
        return;
    }
    sqlite3* handle = sqlite::Handle(db);
    if (!handle)
        fail(QStringLiteral("Operation is not allowed when the object is closed."));
    sqlite::ReadSnapshot(handle, text, parameters, filePath, columns, cells);
}

} // namespace

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
        if (!info.exec(QStringLiteral("pragma table_info(%1)")
                           .arg(QuotedIdentifier(UnquotedIdentifier(table)))))
            fail(ProviderErrorText(info.lastError(), connection.filePath()));
        while (info.next())
            types.emplace_back(info.value(1).toString(), info.value(2).toString());
    }
    if (const QString mismatch = DeclaredTypeProblem(types, fields); !mismatch.isEmpty())
        fail(prefix + mismatch);
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
