// The table query as the item model the grid shows: the cells' texts, typed cells, and rows
// read as the grid scrolls to them.
#include "catalogue/table_query.h"

#include "catalogue/grid_numbers.h"
#include "platform/exception.h"
#include "shell/error_report.h"

namespace krepiks {

QString TTableQuery::DisplayText(int column, const QVariant& value) {
    if (value.isNull())
        return {};
    if (column == NameColumn || column == KeyColumn)
        return value.toString();
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? GridNumberText(number) : value.toString();
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
