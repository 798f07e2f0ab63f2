// The table query's editing: the row in editing, its posting and cancelling, deleting, and
// reading the rows again.
#include "catalogue/table_query.h"

#include "catalogue/grid_numbers.h"
#include "platform/exception.h"

#include <algorithm>
#include <cmath>

namespace krepiks {

namespace {

constexpr int MaxNameLength = 150;

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

bool sameValue(int column, const QVariant& a, const QVariant& b) {
    if (column == TTableQuery::NameColumn)
        return a.toString() == b.toString(); // no name and an empty name look alike
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    bool okA = false, okB = false;
    const double x = a.toDouble(&okA), y = b.toDouble(&okB);
    return okA && okB ? x == y : a.toString() == b.toString();
}

} // namespace

const QVariantList& TTableQuery::shownValues(int row) const {
    return Editing() && row == current_ ? buffer_ : rows_[row];
}

void TTableQuery::Edit() {
    requireActive();
    if (state_ != State::Browse)
        return;
    if (rows_.empty()) {
        Append();
        return;
    }
    buffer_ = rows_[current_];
    changed_.assign(FieldNames().size(), false);
    setState(State::Edit);
}

void TTableQuery::Insert() {
    requireActive();
    checkBrowseMode();
    const int row = rows_.empty() ? 0 : current_;
    const Reshaping reshaping(reshaping_);
    beginInsertRows({}, row, row);
    rows_.insert(rows_.begin() + row, QVariantList(FieldNames().size()));
    endInsertRows();
    buffer_ = QVariantList(FieldNames().size());
    changed_.assign(FieldNames().size(), false);
    current_ = row;
    setState(State::Insert);
    setCurrent(row);
}

void TTableQuery::Append() {
    requireActive();
    checkBrowseMode();
    fetchAll();
    const int row = static_cast<int>(rows_.size());
    const Reshaping reshaping(reshaping_);
    beginInsertRows({}, row, row);
    rows_.push_back(QVariantList(FieldNames().size()));
    endInsertRows();
    buffer_ = QVariantList(FieldNames().size());
    changed_.assign(FieldNames().size(), false);
    current_ = row;
    setState(State::Insert);
    setCurrent(row);
}

void TTableQuery::SetField(const QString& name, const QVariant& value) {
    const int column = requireField(name);
    requireActive();
    if (column == KeyColumn)
        fail(QStringLiteral("Field '%1' cannot be modified").arg(FieldNames()[column]));
    if (state_ == State::Browse)
        Edit();
    buffer_[column] = value;
    changed_[column] = true;
    emit dataChanged(index(current_, column), index(current_, column));
}

void TTableQuery::SetFieldText(int column, const QString& text) {
    requireActive();
    if (column < 0 || column >= FieldNames().size())
        fail(QStringLiteral("%1: Field index out of range").arg(objectName()));
    const QString& name = FieldNames()[column];
    QVariant value;
    if (column == NameColumn) {
        value = text.left(MaxNameLength);
    } else if (column != KeyColumn && !text.trimmed().isEmpty()) {
        bool ok = false;
        const double number = GridNumberLocale().toDouble(text.trimmed(), &ok);
        // The locale reads "nan" and "inf" as numbers, which the file would keep as no value
        // and as an infinity: neither is what was typed.
        if (!ok || !std::isfinite(number))
            fail(QStringLiteral("'%1' is not a valid floating point value for field '%2'")
                     .arg(text, name));
        value = number;
    }
    if (current_ >= 0 && sameValue(column, shownValues(current_)[column], value))
        return;
    SetField(name, value);
}

QVariant TTableQuery::FieldValue(const QString& name) const {
    const int column = requireField(name);
    requireActive();
    if (current_ < 0)
        return {};
    return shownValues(current_)[column];
}

double TTableQuery::FieldAsFloat(const QString& name) const {
    const QVariant value = FieldValue(name);
    return value.isNull() ? 0.0 : value.toDouble();
}

QString TTableQuery::FieldAsString(const QString& name) const {
    const QVariant value = FieldValue(name);
    return value.isNull() ? QString() : value.toString();
}

QString TTableQuery::tableName() const {
    return StatementTableName(statement_);
}

QString TTableQuery::keyField() const {
    const QString key = connection_->KeyColumn(tableName());
    if (key.compare(FieldNames()[KeyColumn], Qt::CaseInsensitive) != 0)
        fail(QStringLiteral("Insufficient key column information for updating or refreshing."));
    return key;
}

void TTableQuery::Post() {
    requireActive();
    if (!Editing())
        return;
    emit updateRecord();
    if (!Editing())
        return;
    const QString table = tableName();
    QStringList names;
    QVariantList values;
    QVariantList originals;
    for (int i = 0; i < FieldNames().size(); ++i)
        if (changed_[i]) {
            names.append(connection_->Identifier(FieldNames()[i]));
            values.append(buffer_[i]);
            if (state_ == State::Edit)
                originals.append(rows_[current_][i]);
        }
    // A refusal leaves the row in editing, to be corrected or cancelled.
    if (state_ == State::Insert) {
        buffer_[KeyColumn] = connection_->InsertRow(table, names, values, keyField());
        if (moreRows_)
            postedKeys_.insert(buffer_[KeyColumn].toLongLong());
    } else {
        if (names.isEmpty()) {
            buffer_.clear();
            changed_.clear();
            setState(State::Browse);
            return;
        }
        connection_->UpdateRow(table, names, values, originals, keyField(),
                               rows_[current_][KeyColumn]);
    }
    rows_[current_] = buffer_;
    buffer_.clear();
    changed_.clear();
    setState(State::Browse);
    emit dataChanged(index(current_, 0), index(current_, columnCount() - 1));
}

void TTableQuery::Cancel() {
    if (state_ == State::Edit) {
        buffer_.clear();
        changed_.clear();
        setState(State::Browse);
        emit dataChanged(index(current_, 0), index(current_, columnCount() - 1));
    } else if (state_ == State::Insert) {
        dropNewRow();
    }
}

void TTableQuery::DropUnchangedNewRow() {
    if (state_ != State::Insert)
        return;
    emit updateRecord();
    if (state_ == State::Insert && !Modified())
        dropNewRow();
}

void TTableQuery::Delete() {
    requireActive();
    if (state_ == State::Insert) {
        dropNewRow();
        return;
    }
    if (rows_.empty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    // The row stays where it is when the delete is refused.
    connection_->DeleteRow(tableName(), keyField(), rows_[current_][KeyColumn]);
    buffer_.clear();
    changed_.clear();
    setState(State::Browse);
    const int row = current_;
    const Reshaping reshaping(reshaping_);
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    setCurrent(std::min(row, static_cast<int>(rows_.size()) - 1));
    lookAhead();
}

void TTableQuery::Refresh() {
    requireActive();
    checkBrowseMode();
    const QVariant key = current_ >= 0 ? rows_[current_][KeyColumn] : QVariant();
    execute();
    if (key.isNull() || rows_.empty())
        return;
    // Rows come in key order: read on until the old key or the first one after it.
    const qlonglong wanted = key.toLongLong();
    auto reached = [&] {
        return std::find_if(rows_.begin(), rows_.end(), [&](const QVariantList& row) {
            return row[KeyColumn].toLongLong() >= wanted;
        });
    };
    auto found = reached();
    while (found == rows_.end() && moreRows_) {
        fetchRows(FetchChunk);
        found = reached();
    }
    setCurrent(found == rows_.end() ? static_cast<int>(rows_.size()) - 1
                                    : static_cast<int>(found - rows_.begin()));
    lookAhead();
}

} // namespace krepiks
