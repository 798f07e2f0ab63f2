#include "catalogue/data_controls.h"

#include "catalogue/table_query.h"
#include "platform/ui_effects.h"
#include "shell/error_report.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QToolButton>

namespace krepiks {

namespace {

constexpr int MaxNameLength = 150;

// Runs a user action; a failure ends it with the general error report.
template <class Action> bool reported(Action&& action) {
    try {
        action();
        return true;
    } catch (const std::exception& error) {
        ShowErrorReport(error);
        return false;
    }
}

bool inside(const QWidget* outer, const QWidget* widget) {
    return widget && (widget == outer || outer->isAncestorOf(widget));
}

} // namespace

void AskAndDeleteRecord(TTableQuery* dataSet) {
    const int row = dataSet->RecNo();
    const auto key = [dataSet] {
        return dataSet->RecNo() >= 0 && !dataSet->IsEmpty()
                   ? dataSet->data(dataSet->index(dataSet->RecNo(), TTableQuery::KeyColumn))
                   : QVariant();
    };
    const QVariant asked = key();
    if (showMessage(ApplicationTitle, QStringLiteral("Delete record?"), BoxIcon::Question,
                    BoxButtons::OkCancel) != BoxResult::Ok)
        return;
    if (dataSet->RecNo() != row || key() != asked)
        return;
    reported([dataSet] { dataSet->Delete(); });
}

// Plain line editors for every cell (the default would offer a spin box with two decimals
// for numbers); typing into one puts the row into editing at once.
class TGridDelegate : public QStyledItemDelegate {
public:
    explicit TGridDelegate(TDBGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* widget = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(widget)) {
            if (index.column() == TTableQuery::NameColumn)
                line->setMaxLength(MaxNameLength);
            line->setAlignment(Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()));
            TDBGrid* grid = grid_;
            QObject::connect(line, &QLineEdit::textEdited, line, [grid] {
                if (grid->dataSet())
                    reported([grid] { grid->dataSet()->Edit(); });
            });
        }
        editor = widget;
        return widget;
    }

    void destroyEditor(QWidget* widget, const QModelIndex& index) const override {
        if (editor == widget)
            editor = nullptr;
        QStyledItemDelegate::destroyEditor(widget, index);
    }

    mutable QPointer<QWidget> editor;

private:
    TDBGrid* grid_;
};

// Every move of the current cell passes here, from the keyboard and the mouse alike, so a
// row change can post first and be refused when the post is.
class TGridSelection : public QItemSelectionModel {
public:
    TGridSelection(QAbstractItemModel* model, TDBGrid* grid)
        : QItemSelectionModel(model, grid), grid_(grid) {}

    void setCurrentIndex(const QModelIndex& index, SelectionFlags command) override {
        if (grid_->routesMove(index)) {
            grid_->moveToRow(index);
            return;
        }
        QItemSelectionModel::setCurrentIndex(index, command);
    }

    void placeCurrent(const QModelIndex& index) {
        QItemSelectionModel::setCurrentIndex(index, ClearAndSelect);
    }

private:
    TDBGrid* grid_;
};

// ---- grid --------------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
    delegate_ = new TGridDelegate(this);
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setShowGrid(true);
    setTabKeyNavigation(true);
    connect(qApp, &QApplication::focusChanged, this, &TDBGrid::focusMoved);
}

void TDBGrid::setDataSet(TTableQuery* dataSet) {
    dataSet_ = dataSet;
    QItemSelectionModel* previous = selectionModel();
    setModel(dataSet);
    selection_ = new TGridSelection(dataSet, this);
    setSelectionModel(selection_);
    delete previous;
    connect(dataSet, &TTableQuery::currentRowChanged, this, [this] { showCurrentRow(); });
    connect(dataSet, &TTableQuery::updateRecord, this, &TDBGrid::commitCell);
    connect(dataSet, &TTableQuery::stateChanged, this, [this] {
        if (!dataSet_->Editing())
            dropEditor();
    });
    showCurrentRow();
}

bool TDBGrid::routesMove(const QModelIndex& target) const {
    return !syncing_ && dataSet_ && dataSet_->Active() && !dataSet_->reshaping() &&
           target.isValid() && target.row() != dataSet_->RecNo();
}

void TDBGrid::commitCell() {
    QWidget* editor = delegate_->editor;
    if (!editor)
        return;
    delegate_->editor = nullptr;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void TDBGrid::dropEditor() {
    QWidget* editor = delegate_->editor;
    if (!editor)
        return;
    delegate_->editor = nullptr;
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void TDBGrid::moveToRow(const QModelIndex& target) {
    commitCell();
    const int column = target.column();
    const int row = target.row();
    const bool moved = reported([&] { dataSet_->MoveTo(row); });
    showCurrentRow(moved ? column : -1);
}

void TDBGrid::showCurrentRow(int column) {
    if (!dataSet_ || !selection_)
        return;
    if (column < 0 || isColumnHidden(column)) {
        const QModelIndex now = currentIndex();
        column =
            now.isValid() && !isColumnHidden(now.column()) ? now.column() : TTableQuery::NameColumn;
    }
    const int row = dataSet_->RecNo();
    syncing_ = true;
    if (row < 0 || row >= dataSet_->rowCount())
        selection_->clearCurrentIndex();
    else
        selection_->placeCurrent(dataSet_->index(row, column));
    syncing_ = false;
}

bool TDBGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Only the query's current row can be typed into.
    if (dataSet_ && index.isValid() && index.row() != dataSet_->RecNo())
        return false;
    return QTableView::edit(index, trigger, event);
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    if (!dataSet_ || !dataSet_->Active()) {
        QTableView::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int column = currentIndex().column();
    switch (event->key()) {
    case Qt::Key_Insert:
        if (modifiers == Qt::NoModifier) {
            commitCell();
            reported([this] { dataSet_->Insert(); });
            showCurrentRow(column);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Delete:
        if (modifiers == Qt::ControlModifier) {
            AskAndDeleteRecord(dataSet_);
            showCurrentRow(column);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Down:
        if (modifiers == Qt::NoModifier && dataSet_->RecNo() >= dataSet_->rowCount() - 1) {
            if (dataSet_->canFetchMore()) {
                dataSet_->fetchMore();
                break;
            }
            // Moving down past the last row starts a new one, unless that is where we are.
            commitCell();
            if (!(dataSet_->state() == TTableQuery::State::Insert && !dataSet_->Modified()))
                reported([this] { dataSet_->Append(); });
            showCurrentRow(column);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (modifiers == Qt::NoModifier && dataSet_->Editing()) {
            dataSet_->Cancel();
            showCurrentRow(column);
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}

void TDBGrid::focusMoved(QWidget* old, QWidget* now) {
    // Leaving the grid for another control of its window drops a new row nobody typed in;
    // a message box or another window taking the focus is not leaving it.
    if (!dataSet_ || !inside(this, old) || !now || inside(this, now) || now->window() != window())
        return;
    reported([this] { dataSet_->DropUnchangedNewRow(); });
}

// ---- navigator ---------------------------------------------------------------------------

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent) {
    struct ButtonLook {
        const char* name;
        const char* glyph;
    };
    static const ButtonLook looks[ButtonCount] = {
        {"First", "|\u25C4"}, {"Prior", "\u25C4"},  {"Next", "\u25BA"},
        {"Last", "\u25BA|"},  {"Delete", "\u2212"}, {"Edit", "\u25B2"},
        {"Post", "\u2714"},   {"Cancel", "\u2716"}, {"Refresh", "\u21BB"}};
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QFont glyphFont = font();
    glyphFont.setPixelSize(14);
    for (int i = 0; i < ButtonCount; ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(looks[i].name));
        button->setText(QString::fromUtf8(looks[i].glyph));
        button->setFont(glyphFont);
        // Clicking a button leaves the focus, and a cell being typed, in the grid.
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(button);
        buttons_[i] = button;
        connect(button, &QToolButton::clicked, this, [this, i] { clicked(Button(i)); });
    }
    updateButtons();
}

void TDBNavigator::setDataSet(TTableQuery* dataSet) {
    dataSet_ = dataSet;
    connect(dataSet, &TTableQuery::stateChanged, this, &TDBNavigator::updateButtons);
    connect(dataSet, &TTableQuery::currentRowChanged, this, &TDBNavigator::updateButtons);
    connect(dataSet, &QAbstractItemModel::rowsInserted, this, &TDBNavigator::updateButtons);
    connect(dataSet, &QAbstractItemModel::rowsRemoved, this, &TDBNavigator::updateButtons);
    connect(dataSet, &QAbstractItemModel::modelReset, this, &TDBNavigator::updateButtons);
    updateButtons();
}

void TDBNavigator::updateButtons() {
    const bool active = dataSet_ && dataSet_->Active();
    const bool editing = active && dataSet_->Editing();
    buttons_[First]->setEnabled(active && !dataSet_->AtFirst());
    buttons_[Prior]->setEnabled(active && !dataSet_->AtFirst());
    buttons_[Next]->setEnabled(active && !dataSet_->AtLast());
    buttons_[Last]->setEnabled(active && !dataSet_->AtLast());
    buttons_[Delete]->setEnabled(active && !dataSet_->IsEmpty());
    buttons_[Edit]->setEnabled(active && !editing);
    buttons_[Post]->setEnabled(editing);
    buttons_[Cancel]->setEnabled(editing);
    buttons_[Refresh]->setEnabled(active);
}

void TDBNavigator::clicked(Button which) {
    if (!dataSet_)
        return;
    TTableQuery* q = dataSet_;
    switch (which) {
    case First:
        reported([q] { q->First(); });
        break;
    case Prior:
        reported([q] { q->Prior(); });
        break;
    case Next:
        reported([q] { q->Next(); });
        break;
    case Last:
        reported([q] { q->Last(); });
        break;
    case Delete:
        AskAndDeleteRecord(q);
        break;
    case Edit:
        reported([q] { q->Edit(); });
        break;
    case Post:
        reported([q] { q->Post(); });
        break;
    case Cancel:
        reported([q] { q->Cancel(); });
        break;
    case Refresh:
        reported([q] { q->Refresh(); });
        break;
    case ButtonCount:
        break;
    }
    updateButtons();
}

} // namespace krepiks
