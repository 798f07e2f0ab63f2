#pragma once
// The grid and the record navigator bound to the table window's query. The query keeps
// the current row and the edit state; both controls follow it and act through it.
#include <QItemSelectionModel>
#include <QTableView>
#include <QWidget>

class QToolButton;

namespace krepiks {

class TTableQuery;
class TGridDelegate;
class TGridSelection;

// Asks "Delete record?" with OK and Cancel, then deletes the row asked about on OK. The
// box runs its own event loop; should the current row have moved meanwhile, nothing is
// deleted rather than a row the user never saw in the question.
void AskAndDeleteRecord(TTableQuery* dataSet);

class TDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);

    void setDataSet(TTableQuery* dataSet);
    TTableQuery* dataSet() const { return dataSet_; }
    using QTableView::edit;

    // Hands a cell being typed over to the query.
    void commitCell();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    friend class TGridSelection;
    friend class TGridDelegate;

    // The current cell moves to another row: the query moves first, posting its row.
    void moveToRow(const QModelIndex& target);
    // Puts the grid's current cell on the query's current row.
    void showCurrentRow(int column = -1);
    void dropEditor();
    void focusMoved(QWidget* old, QWidget* now);
    bool routesMove(const QModelIndex& target) const;

    TTableQuery* dataSet_ = nullptr;
    TGridSelection* selection_ = nullptr;
    TGridDelegate* delegate_ = nullptr;
    bool syncing_ = false;
};

// Buttons, left to right, with their objectNames: "First", "Prior", "Next", "Last",
// "Delete", "Edit", "Post", "Cancel", "Refresh".
class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button { First, Prior, Next, Last, Delete, Edit, Post, Cancel, Refresh, ButtonCount };

    explicit TDBNavigator(QWidget* parent = nullptr);

    void setDataSet(TTableQuery* dataSet);
    QToolButton* button(Button which) const { return buttons_[which]; }

    // Enables each button where its action applies in the query's present state.
    void updateButtons();

private:
    void clicked(Button which);

    TTableQuery* dataSet_ = nullptr;
    QToolButton* buttons_[ButtonCount] = {};
};

} // namespace krepiks
