#pragma once
// The bolt design window: the drawing with its fourteen dimension boxes, the choice between
// a catalogue variant and a new one, the template path and the menu.
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QString>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;

namespace krepiks {

class BevelPanel;
class LinkLabel;
class TADOConnection;
class TADOQuery;

// Name of a new variant: the row count plus one, padded with zeros to three digits.
QString GeneratedVariantName(int rowCount);
// The generated name for rowCount, or for the next count after it whose name is not taken.
QString FreeVariantName(int rowCount, const QSet<QString>& taken);

class TForm4 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    TADOConnection* ADOConnection1 = nullptr;
    TADOQuery* ADOQuery1 = nullptr;
    TADOQuery* ADOQuery2 = nullptr;

    QGroupBox* GroupBox13 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* Button1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Image1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QLineEdit* Edit10 = nullptr;
    QLineEdit* Edit11 = nullptr;
    QLineEdit* Edit12 = nullptr;
    QLineEdit* Edit13 = nullptr;
    QLineEdit* Edit14 = nullptr;
    BevelPanel* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Button4 = nullptr;
    QLineEdit* Edit15 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    BevelPanel* Panel3 = nullptr;
    LinkLabel* Label17 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QAction* N7 = nullptr;
    QMenu* N1 = nullptr;
    QAction* N5 = nullptr;
    QAction* N6 = nullptr;
    // «&Чертёж» and its «Сохранить чертёж…», enabled with the build button.
    QMenu* N8 = nullptr;
    QAction* N9 = nullptr;

    // Initialisation on the first activation only.
    void FormActivate();
    void SetInitialState();
    void LockDimensionBoxes();

    void RadioButton1Click();
    void RadioButton2Click();
    void FillVariantList();
    void PrepareNewVariant();
    void ComboBox1Click();
    void ComboBox1Change();
    void LoadSelectedVariant();
    void Button1Click();
    void AddNewVariant();

    void Edit1Exit();
    void Edit2Exit();
    void Edit3Exit();
    void Edit4Exit();
    void Edit6Exit();
    void Edit7Exit();
    void Edit9Exit();
    void Edit10Exit();
    void Edit11Exit();
    void Edit13Exit();
    void Edit14Exit();
    void Edit15Exit();

    void Button4Click();
    void N5Click();
    void N6Click();
    void N7Click();
    void N9Click();
    void Button2Click();
    void Button3Click();
    void Label17Click();

    // Derives the geometry of Bolt and builds it in the CAD application.
    void BuildModel();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createLayout();
    void connectHandlers();
    // The docked groups and panels follow the window's size.
    void arrangeDocked();
    // The question of the exit command; true when the user answers Yes.
    bool confirmExit();

    bool activated_ = false;
    bool inExit_ = false;
    // A control whose mouse press lost its focus to a check that put the focus back.
    QPointer<QWidget> refusedPress_;
};

extern TForm4* Form4;

// The variant name last chosen in the list; empty after every switch to list mode.
extern QString LastChosenName;

} // namespace krepiks
