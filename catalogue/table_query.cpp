#include "catalogue/table_query.h"

#include "platform/exception.h"

#include <QSqlError>
#include <QSqlRecord>
#include <algorithm>
#include <limits>

namespace krepiks {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
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

} // namespace krepiks
