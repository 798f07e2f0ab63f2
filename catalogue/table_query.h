#pragma once
// The table window's query: a dataset over the variant table with a static cursor, a
// current row and the edit states of the grid and navigator, and at the same time the
// item model the grid shows. Rows are read from the engine only as far as they are
// needed, so a large catalogue shows its first screen at once.
#include "catalogue/database.h"
#include "catalogue/row_stream.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <set>
#include <vector>

namespace krepiks {

class TTableQuery : public QAbstractTableModel {
    Q_OBJECT
public:
    using State = TADOQuery::State;

    // The dataset's fields in grid order; column 0 is the key.
    static const QStringList& FieldNames();
    static constexpr int KeyColumn = 0;
    static constexpr int NameColumn = 1;

    explicit TTableQuery(TADOConnection* connection, QObject* parent = nullptr);

    // The statement lines; joined with newlines when opened.
    QStringList SQL;

    // Runs the statement and reads the first rows. Throws EDatabaseError.
    void Open();
    // Drops the rows and any change not yet posted.
    void Close();
    bool Active() const { return state_ != State::Inactive; }
    State state() const { return state_; }
    bool Editing() const { return state_ == State::Edit || state_ == State::Insert; }
    // Whether a field of the row in editing has been set.
    bool Modified() const;
    TADOConnection* connection() const { return connection_; }

    // The current row, 0-based; -1 when there is none.
    int RecNo() const { return current_; }
    bool IsEmpty() const { return rows_.empty(); }
    // On the first row, or no rows at all.
    bool AtFirst() const;
    // On the last row with nothing left to read, or no rows at all.
    bool AtLast() const;
    // Rows are being added, removed or read anew.
    bool reshaping() const { return reshaping_ > 0; }
    // Reads every remaining row and returns how many there are.
    int RecordCount();
    // Reads the rows the engine still holds and lets its cursor go, so that the file's read
    // lock does not outlast the window; the rows, the current one and any edit stay.
    void FinishReading();

    // Moves post a change in progress first (a refusal throws and the row stays in
    // editing); a new row left unchanged is dropped instead.
    void First();
    void Prior();
    void Next();
    void Last();
    void MoveTo(int row);

    // Puts the current row into editing; on an empty result starts a new row.
    void Edit();
    // A new, empty row before the current one.
    void Insert();
    // A new, empty row after the last one.
    void Append();
    void SetField(const QString& name, const QVariant& value);
    // Sets a field from text as typed in the grid: numbers with the regional decimal
    // separator, empty text as no value. Throws EDatabaseError on text that is no finite
    // number.
    void SetFieldText(int column, const QString& text);
    QVariant FieldValue(const QString& name) const;
    double FieldAsFloat(const QString& name) const;
    QString FieldAsString(const QString& name) const;
    // Writes the row in editing to the file.
    void Post();
    void Cancel();
    // Removes the current row from the file (a new row is only dropped).
    void Delete();
    // Posts, reads the rows again and keeps the current row where it still exists.
    void Refresh();
    // A new row nobody typed into is dropped when the grid is left.
    void DropUnchangedNewRow();

    // The text a cell shows.
    static QString DisplayText(int column, const QVariant& value);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent = QModelIndex()) const override;
    void fetchMore(const QModelIndex& parent = QModelIndex()) override;

signals:
    // The current row or the set of rows changed.
    void currentRowChanged();
    // Active/Browse/Edit/Insert changed.
    void stateChanged();
    // Asks the grid to hand over a cell being typed before the row is written or left.
    void updateRecord();

private:
    // Rows read per step; about one screen and a half of the grid, many for a small catalogue.
    static constexpr int FetchChunk = 256;

    // Marks a change of the row set: the grid moving its cell meanwhile is not the user moving.
    struct Reshaping {
        explicit Reshaping(int& depth) : depth_(depth) { ++depth_; }
        ~Reshaping() { --depth_; }
        int& depth_;
    };

    void requireActive() const;
    int requireField(const QString& name) const;
    QString fieldNotFound(const QString& name) const;
    void execute(); // runs statement_ and reads the first rows
    void finishCursor();
    int fetchRows(int count);
    void fetchAll();
    void lookAhead();
    void setCurrent(int row);
    void setState(State state);
    void dropNewRow();
    // Leaves the row in editing before a move: returns false when a new row was dropped.
    bool checkBrowseMode();
    QString tableName() const;
    QString keyField() const;
    const QVariantList& shownValues(int row) const;

    TADOConnection* connection_;
    State state_ = State::Inactive;
    QString statement_;
    std::unique_ptr<RowStream> cursor_;
    bool moreRows_ = false;
    std::vector<int> sourceColumn_; // result column of each field
    std::vector<QVariantList> rows_;
    int current_ = -1;
    QVariantList buffer_;
    std::vector<bool> changed_;
    // Keys of rows this dataset wrote while the cursor was still reading: the engine may
    // return them again at the end of the result.
    std::set<qlonglong> postedKeys_;
    int reshaping_ = 0;
};

} // namespace krepiks
