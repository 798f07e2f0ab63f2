#pragma once
// The bolt table window: every stored variant in a grid, browsed, corrected and deleted in
// place through the design window's connection.
#include <QDialog>

class QPushButton;

namespace krepiks {

class BevelPanel;
class LinkLabel;
class TTableQuery;
class TDBGrid;
class TDBNavigator;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    TTableQuery* ADOQuery1 = nullptr;
    TDBGrid* DBGrid1 = nullptr;
    TDBNavigator* DBNavigator2 = nullptr;
    QPushButton* Button1 = nullptr;
    BevelPanel* Panel3 = nullptr;
    LinkLabel* Label1 = nullptr;

    // Each opening shows the table as the file holds it now, from its first row.
    void FormActivate();
    void Label1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createLayout();
};

extern TForm2* Form2;

} // namespace krepiks
