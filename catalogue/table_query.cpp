#include "catalogue/table_query.h"

#include "platform/exception.h"
#include "shell/error_report.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>
#include <limits>

namespace krepiks {

namespace {

// Rows read per step; about one screen and a half of the grid, many for a small catalogue.
constexpr int FetchChunk = 256;
constexpr int MaxNameLength = 150;

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

QLocale numberLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

// General format, 15 significant digits, regional separator; exponents as "1E15", "5E-5".
QString formatNumber(double value) {
    // As the design window shows them, not in the locale's lower case.
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0");
    const QLocale locale = numberLocale();
    QString text = locale.toString(value, 'g', 15);
    const int e = text.indexOf(locale.exponential(), 0, Qt::CaseInsensitive);
    if (e < 0)
        return text;
    QString exponent = text.mid(e + locale.exponential().size());
    bool negative = false;
    if (exponent.startsWith(locale.negativeSign())) {
        negative = true;
        exponent.remove(0, locale.negativeSign().size());
    } else if (exponent.startsWith(locale.positiveSign())) {
        exponent.remove(0, locale.positiveSign().size());
    }
    while (exponent.size() > 1 && exponent.front() == locale.zeroDigit().front())
        exponent.remove(0, 1);
    return text.left(e) + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString()) +
           exponent;
}

// Marks a change of the row set: the grid moving its cell meanwhile is not the user moving.
struct Reshaping {
    explicit Reshaping(int& depth) : depth_(depth) { ++depth_; }
    ~Reshaping() { --depth_; }
    int& depth_;
};

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

const QStringList& TTableQuery::FieldNames() {
    static const QStringList names = {
        QStringLiteral("id"), QStringLiteral("isp"), QStringLiteral("d0"), QStringLiteral("d1"),
        QStringLiteral("d2"), QStringLiteral("D"),   QStringLiteral("R"),  QStringLiteral("K"),
        QStringLiteral("L"),  QStringLiteral("L2"),  QStringLiteral("L3"), QStringLiteral("a"),
        QStringLiteral("b"),  QStringLiteral("c"),   QStringLiteral("S"),  QStringLiteral("e")};
    return names;
}

TTableQuery::TTableQuery(TADOConnection* connection, QObject* parent)
    : QAbstractTableModel(parent), connection_(connection) {
    connect(connection_, &TADOConnection::closing, this, &TTableQuery::Close);
}

void TTableQuery::requireActive() const {
    if (state_ == State::Inactive)
        fail(QStringLiteral("Operation is not allowed when the object is closed."));
}

int TTableQuery::requireField(const QString& name) const {
    const QStringList& names = FieldNames();
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    fail(fieldNotFound(name));
}

QString TTableQuery::fieldNotFound(const QString& name) const {
    const QString owner = objectName().isEmpty() ? QString() : objectName() + QStringLiteral(": ");
    return owner + QStringLiteral("Field '%1' not found").arg(name);
}

bool TTableQuery::Modified() const {
    return std::find(changed_.begin(), changed_.end(), true) != changed_.end();
}

// ---- opening and reading ---------------------------------------------------------------

void TTableQuery::Open() {
    if (Active())
        return;
    statement_ = SQL.join(QLatin1Char('\n'));
    execute();
}

void TTableQuery::execute() {
    connection_->Ensure();
    connection_->noteStatement(statement_);
    std::unique_ptr<RowStream> stream = OpenRowStream(*connection_, statement_);
    const QSqlRecord record = stream->record();
    std::vector<int> sources;
    for (const QString& name : FieldNames()) {
        int found = -1;
        for (int i = 0; i < record.count() && found < 0; ++i)
            if (record.fieldName(i).compare(name, Qt::CaseInsensitive) == 0)
                found = i;
        if (found < 0)
            fail(fieldNotFound(name));
        sources.push_back(found);
    }
    // Declared fields: a column of an unfitting type fails the opening, as a missing one does.
    static const std::vector<FieldDef> declared = [] {
        std::vector<FieldDef> fields;
        for (int i = 0; i < FieldNames().size(); ++i)
            fields.push_back({FieldNames()[i], i == KeyColumn    ? FieldKind::Integer
                                               : i == NameColumn ? FieldKind::Text
                                                                 : FieldKind::Float});
        return fields;
    }();
    CheckFields(*connection_, objectName(), tableName(), record, declared);

    const Reshaping reshaping(reshaping_);
    beginResetModel();
    finishCursor();
    rows_.clear();
    buffer_.clear();
    changed_.clear();
    current_ = -1;
    sourceColumn_ = std::move(sources);
    cursor_ = std::move(stream);
    moreRows_ = true;
    try {
        QVariantList all;
        while (moreRows_ && static_cast<int>(rows_.size()) < FetchChunk) {
            if (!cursor_->next(all)) {
                finishCursor();
                break;
            }
            QVariantList row;
            for (int source : sourceColumn_)
                row.append(all.at(source));
            rows_.push_back(std::move(row));
        }
    } catch (...) {
        finishCursor();
        rows_.clear();
        state_ = State::Inactive;
        endResetModel();
        emit stateChanged();
        emit currentRowChanged();
        throw;
    }
    state_ = State::Browse;
    current_ = rows_.empty() ? -1 : 0;
    endResetModel();
    emit stateChanged();
    emit currentRowChanged();
}

void TTableQuery::finishCursor() {
    // A cursor still reading holds the file's read lock; let go of it as soon as possible.
    cursor_.reset();
    moreRows_ = false;
    postedKeys_.clear();
}

int TTableQuery::fetchRows(int count) {
    std::vector<QVariantList> fresh;
    QString error;
    QVariantList all;
    while (moreRows_ && static_cast<int>(fresh.size()) < count) {
        try {
            if (!cursor_->next(all)) {
                finishCursor();
                break;
            }
        } catch (const EDatabaseError& failure) {
            // The rows read so far stay shown; the failure is reported after them.
            error = QString::fromUtf8(failure.what());
            finishCursor();
            break;
        }
        QVariantList row;
        for (int source : sourceColumn_)
            row.append(all.at(source));
        if (!postedKeys_.empty() && postedKeys_.count(row[KeyColumn].toLongLong()))
            continue;
        fresh.push_back(std::move(row));
    }
    if (!fresh.empty()) {
        const int first = static_cast<int>(rows_.size());
        const Reshaping reshaping(reshaping_);
        beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
        for (QVariantList& row : fresh)
            rows_.push_back(std::move(row));
        endInsertRows();
    }
    if (!error.isEmpty())
        fail(error);
    return static_cast<int>(fresh.size());
}

void TTableQuery::fetchAll() {
    while (moreRows_)
        fetchRows(std::numeric_limits<int>::max());
}

void TTableQuery::lookAhead() {
    // Knowing whether the current row is the last one takes one row beyond it.
    if (moreRows_ && current_ >= static_cast<int>(rows_.size()) - 1)
        fetchRows(FetchChunk);
}

void TTableQuery::FinishReading() {
    fetchAll();
}

int TTableQuery::RecordCount() {
    requireActive();
    fetchAll();
    return static_cast<int>(rows_.size());
}

void TTableQuery::Close() {
    if (state_ == State::Inactive && rows_.empty() && !moreRows_)
        return;
    const Reshaping reshaping(reshaping_);
    beginResetModel();
    finishCursor();
    rows_.clear();
    buffer_.clear();
    changed_.clear();
    current_ = -1;
    state_ = State::Inactive;
    endResetModel();
    emit stateChanged();
    emit currentRowChanged();
}

// ---- position ----------------------------------------------------------------------------

bool TTableQuery::AtFirst() const {
    return rows_.empty() || current_ <= 0;
}

bool TTableQuery::AtLast() const {
    return rows_.empty() || (current_ >= static_cast<int>(rows_.size()) - 1 && !moreRows_);
}

void TTableQuery::setCurrent(int row) {
    const int previous = current_;
    current_ = row;
    if (previous >= 0 && previous < static_cast<int>(rows_.size()) && previous != row)
        emit headerDataChanged(Qt::Vertical, previous, previous);
    if (row >= 0)
        emit headerDataChanged(Qt::Vertical, row, row);
    emit currentRowChanged();
}

void TTableQuery::setState(State state) {
    if (state_ == state)
        return;
    state_ = state;
    if (current_ >= 0)
        emit headerDataChanged(Qt::Vertical, current_, current_);
    emit stateChanged();
}

void TTableQuery::dropNewRow() {
    const int row = current_;
    buffer_.clear();
    changed_.clear();
    const Reshaping reshaping(reshaping_);
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    current_ = std::min(row, static_cast<int>(rows_.size()) - 1);
    setState(State::Browse);
    setCurrent(current_);
}

bool TTableQuery::checkBrowseMode() {
    if (!Editing())
        return true;
    emit updateRecord();
    if (state_ == State::Insert && !Modified()) {
        dropNewRow();
        return false;
    }
    Post();
    return true;
}

void TTableQuery::MoveTo(int row) {
    requireActive();
    if (row == current_ && !Editing())
        return;
    const int from = current_;
    if (!checkBrowseMode() && row > from)
        --row; // the dropped row was above the target
    if (rows_.empty()) {
        setCurrent(-1);
        return;
    }
    while (row >= static_cast<int>(rows_.size()) && moreRows_)
        fetchRows(FetchChunk);
    setCurrent(std::clamp(row, 0, static_cast<int>(rows_.size()) - 1));
    lookAhead();
}

void TTableQuery::First() {
    MoveTo(0);
}

void TTableQuery::Prior() {
    MoveTo(std::max(current_ - 1, 0));
}

void TTableQuery::Next() {
    MoveTo(current_ + 1);
}

void TTableQuery::Last() {
    requireActive();
    checkBrowseMode();
    fetchAll();
    MoveTo(static_cast<int>(rows_.size()) - 1);
}

// ---- editing -----------------------------------------------------------------------------

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
        const double number = numberLocale().toDouble(text.trimmed(), &ok);
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

// ---- item model --------------------------------------------------------------------------

QString TTableQuery::DisplayText(int column, const QVariant& value) {
    if (value.isNull())
        return {};
    if (column == NameColumn || column == KeyColumn)
        return value.toString();
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? formatNumber(number) : value.toString();
}

int TTableQuery::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TTableQuery::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FieldNames().size());
}

QVariant TTableQuery::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return DisplayText(index.column(), shownValues(index.row())[index.column()]);
    case Qt::TextAlignmentRole:
        return static_cast<int>(index.column() == NameColumn ? Qt::AlignLeft | Qt::AlignVCenter
                                                             : Qt::AlignRight | Qt::AlignVCenter);
    default:
        return {};
    }
}

bool TTableQuery::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || !Active() || index.row() != current_)
        return false;
    // Called from inside the grid's own event handling: report here, throw nothing.
    try {
        SetFieldText(index.column(), value.toString());
        return true;
    } catch (const std::exception& error) {
        ShowErrorReport(error);
        return false;
    }
}

Qt::ItemFlags TTableQuery::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (Active() && index.column() != KeyColumn)
        result |= Qt::ItemIsEditable;
    return result;
}

QVariant TTableQuery::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= FieldNames().size())
            return {};
        if (role == Qt::DisplayRole)
            return FieldNames()[section];
        if (role == Qt::TextAlignmentRole)
            return static_cast<int>(Qt::AlignCenter);
        return {};
    }
    if (role != Qt::DisplayRole || section != current_)
        return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
    // The row indicator: the current row, a row in editing, a new row.
    switch (state_) {
    case State::Edit:
        return QStringLiteral("I");
    case State::Insert:
        return QStringLiteral("*");
    default:
        return QStringLiteral("\u25BA");
    }
}

bool TTableQuery::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && moreRows_;
}

void TTableQuery::fetchMore(const QModelIndex& parent) {
    if (parent.isValid())
        return;
    try {
        fetchRows(FetchChunk);
    } catch (const std::exception& error) {
        ShowErrorReport(error);
    }
}

} // namespace krepiks
