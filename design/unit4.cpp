#include "design/unit4.h"

#include "catalogue/catalogue_fields.h"
#include "catalogue/database.h"
#include "design/drawing_export.h"
#include "design/number_format.h"
#include "design/read_dimension.h"
#include "model/bolt.h"
#include "model/solidworks.h"
#include "platform/bevel_panel.h"
#include "platform/link_label.h"
#include "platform/ui_effects.h"
#include "resources/drawing.h"
#include "shell/error_report.h"
#include "shell/forms.h"
#include "shell/web_address.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStringListModel>
#include <QTimer>
#include <algorithm>
#include <iterator>
#include <optional>

namespace krepiks {

TForm4* Form4 = nullptr;
QString LastChosenName;

QString GeneratedVariantName(int rowCount) {
    return QString::number(rowCount + 1).rightJustified(3, QLatin1Char('0'));
}

QString FreeVariantName(int rowCount, const QSet<QString>& taken) {
    // Rows deleted or renamed by hand leave the count behind the names in use.
    for (int count = rowCount;; ++count) {
        QString name = GeneratedVariantName(count);
        if (!taken.contains(name))
            return name;
    }
}

namespace {

const QColor clBlack(0x00, 0x00, 0x00);
const QColor clGreen(0x00, 0x80, 0x00);
const QColor clBlue(0x00, 0x00, 0xFF);
const QColor clMaroon(0x80, 0x00, 0x00);
const QColor clRed(0xFF, 0x00, 0x00);

QFont makeFont(int pixels, bool bold = false, bool underline = false) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

void setTextColor(QWidget* widget, const QColor& color) {
    // Only the enabled groups: a disabled control keeps the style's grey text, so the user
    // can tell which controls apply in the current mode.
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
        palette.setColor(group, QPalette::ButtonText, color);
    }
    widget->setPalette(palette);
}

void setLook(QWidget* widget, const QFont& font, const QColor& color) {
    widget->setFont(font);
    setTextColor(widget, color);
}

template <class T> T* make(QWidget* parent, const char* name) {
    auto* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

BevelPanel* makePanel(QWidget* parent, const char* name) {
    auto* panel = new BevelPanel(BevelPanel::Bevel::Raised, BevelPanel::Bevel::Lowered, 1, parent);
    panel->setObjectName(QString::fromLatin1(name));
    return panel;
}

// Dimension boxes in box-number order, with their place on the drawing.
struct BoxPlace {
    QLineEdit* TForm4::*box;
    const char* name;
    int left, top, width;
};

const BoxPlace boxPlaces[] = {
    {&TForm4::Edit1, "Edit1", 168, 32, 57},    {&TForm4::Edit2, "Edit2", 242, 60, 57},
    {&TForm4::Edit3, "Edit3", 281, 94, 57},    {&TForm4::Edit4, "Edit4", 416, 94, 57},
    {&TForm4::Edit5, "Edit5", 32, 219, 57},    {&TForm4::Edit6, "Edit6", 68, 318, 57},
    {&TForm4::Edit7, "Edit7", 208, 250, 57},   {&TForm4::Edit8, "Edit8", 228, 280, 57},
    {&TForm4::Edit9, "Edit9", 264, 318, 57},   {&TForm4::Edit10, "Edit10", 335, 251, 46},
    {&TForm4::Edit11, "Edit11", 452, 211, 57}, {&TForm4::Edit12, "Edit12", 477, 280, 57},
    {&TForm4::Edit13, "Edit13", 618, 48, 57},  {&TForm4::Edit14, "Edit14", 611, 255, 45},
};

struct ExitBinding {
    QLineEdit* TForm4::*box;
    void (TForm4::*handler)();
};

// The boxes whose leaving is handled; the three derived boxes have no handler.
const ExitBinding exitBindings[] = {
    {&TForm4::Edit1, &TForm4::Edit1Exit},   {&TForm4::Edit2, &TForm4::Edit2Exit},
    {&TForm4::Edit3, &TForm4::Edit3Exit},   {&TForm4::Edit4, &TForm4::Edit4Exit},
    {&TForm4::Edit6, &TForm4::Edit6Exit},   {&TForm4::Edit7, &TForm4::Edit7Exit},
    {&TForm4::Edit9, &TForm4::Edit9Exit},   {&TForm4::Edit10, &TForm4::Edit10Exit},
    {&TForm4::Edit11, &TForm4::Edit11Exit}, {&TForm4::Edit13, &TForm4::Edit13Exit},
    {&TForm4::Edit14, &TForm4::Edit14Exit}, {&TForm4::Edit15, &TForm4::Edit15Exit},
};

// A loaded variant: column, field and box, in reading order.
struct LoadStep {
    const char* column;
    double TBolt::*field;
    QLineEdit* TForm4::*box;
};

const LoadStep loadSteps[] = {
    {"d0", &TBolt::d0, &TForm4::Edit4},  {"d1", &TBolt::d1, &TForm4::Edit3},
    {"d2", &TBolt::d2, &TForm4::Edit11}, {"D", &TBolt::D, &TForm4::Edit5},
    {"R", &TBolt::R, &TForm4::Edit2},    {"K", &TBolt::K, &TForm4::Edit6},
    {"L", &TBolt::L, &TForm4::Edit9},    {"L2", &TBolt::L2, &TForm4::Edit8},
    {"L3", &TBolt::L3, &TForm4::Edit12}, {"a", &TBolt::a, &TForm4::Edit1},
    {"b", &TBolt::b, &TForm4::Edit7},    {"c", &TBolt::c, &TForm4::Edit10},
    {"s", &TBolt::S, &TForm4::Edit14},   {"e", &TBolt::e, &TForm4::Edit13},
};

struct ColumnField {
    const char* column;
    double TBolt::*field;
};

// A new variant: each box must hold a number; its fields go to the columns in this order.
struct AddStep {
    QLineEdit* TForm4::*box;
    void (TForm4::*exit)();
    const char* message;
    ColumnField fields[3];
    int fieldCount;
};

const AddStep addSteps[] = {
    {&TForm4::Edit4, &TForm4::Edit4Exit, "Вы не ввели размер d0!", {{"d0", &TBolt::d0}}, 1},
    {&TForm4::Edit3, &TForm4::Edit3Exit, "Вы не ввели размер d1!", {{"d1", &TBolt::d1}}, 1},
    {&TForm4::Edit11, &TForm4::Edit11Exit, "Вы не ввели размер d2!", {{"d2", &TBolt::d2}}, 1},
    {&TForm4::Edit14,
     &TForm4::Edit14Exit,
     "Вы не ввели размер S!",
     {{"s", &TBolt::S}, {"D", &TBolt::D}},
     2},
    {&TForm4::Edit2, &TForm4::Edit2Exit, "Вы не ввели размер R!", {{"R", &TBolt::R}}, 1},
    {&TForm4::Edit6, &TForm4::Edit6Exit, "Вы не ввели размер K!", {{"K", &TBolt::K}}, 1},
    {&TForm4::Edit9,
     &TForm4::Edit9Exit,
     "Вы не ввели размер L!",
     {{"L", &TBolt::L}, {"L2", &TBolt::L2}, {"L3", &TBolt::L3}},
     3},
    {&TForm4::Edit1, &TForm4::Edit1Exit, "Вы не ввели размер a!", {{"a", &TBolt::a}}, 1},
    {&TForm4::Edit7, &TForm4::Edit7Exit, "Вы не ввели размер b!", {{"b", &TBolt::b}}, 1},
    {&TForm4::Edit10, &TForm4::Edit10Exit, "Вы не ввели размер c!", {{"c", &TBolt::c}}, 1},
    {&TForm4::Edit13, &TForm4::Edit13Exit, "Вы не ввели размер e!", {{"e", &TBolt::e}}, 1},
};

// The box that shows a field.
QLineEdit* TForm4::*boxShowing(double TBolt::*field) {
    for (const LoadStep& step : loadSteps)
        if (step.field == field)
            return step.box;
    return nullptr;
}

const QString SelectVariants = QStringLiteral("select * from  Размеры order by id;");
const QString SelectVariantByName = QStringLiteral("select * from  Размеры where isp=?");
const QString SelectTemplatePath = QStringLiteral("select * from  swApp order by id_swApp;");

} // namespace

TForm4::TForm4(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form4"));
    ADOConnection1 = new TADOConnection(this);
    ADOConnection1->setObjectName(QStringLiteral("ADOConnection1"));
    ADOQuery1 = new TADOQuery(ADOConnection1, this);
    ADOQuery1->setObjectName(QStringLiteral("ADOQuery1"));
    ADOQuery2 = new TADOQuery(ADOConnection1, this);
    ADOQuery2->setObjectName(QStringLiteral("ADOQuery2"));
    // The persistent fields of both queries: a catalogue without one of them is refused.
    ADOQuery1->Fields = VariantFields();
    ADOQuery2->Fields = TemplatePathFields();
    createLayout();
    connectHandlers();
    ADOConnection1->Open();
}

TForm4::~TForm4() {
    LastChosenName.clear();
}

void TForm4::createLayout() {
    setWindowTitle(QStringLiteral("Проектирование болтов"));
    setFont(makeFont(11));

    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(MainMenu1);
    N7 = MainMenu1->addAction(QStringLiteral("&Таблица исполнений болтов"));
    N7->setObjectName(QStringLiteral("N7"));
    N8 = MainMenu1->addMenu(QStringLiteral("&Чертёж"));
    N8->setObjectName(QStringLiteral("N8"));
    N9 = N8->addAction(QStringLiteral("Сохранить чертёж…"));
    N9->setObjectName(QStringLiteral("N9"));
    N1 = MainMenu1->addMenu(QStringLiteral("&Справка"));
    N1->setObjectName(QStringLiteral("N1"));
    N5 = N1->addAction(QStringLiteral("О программе"));
    N5->setObjectName(QStringLiteral("N5"));
    N6 = MainMenu1->addAction(QStringLiteral("&Закрыть программу"));
    N6->setObjectName(QStringLiteral("N6"));

    GroupBox13 = make<QGroupBox>(this, "GroupBox13");
    setLook(GroupBox13, makeFont(15, true), clGreen);
    setCentralWidget(GroupBox13);

    GroupBox1 = make<QGroupBox>(GroupBox13, "GroupBox1");
    GroupBox1->setTitle(QStringLiteral("Исходные  данные"));

    RadioButton2 = make<QRadioButton>(GroupBox1, "RadioButton2");
    RadioButton2->setText(QStringLiteral("Выбрать исмполнение болта из списка"));
    RadioButton2->setGeometry(15, 25, 284, 14);
    setLook(RadioButton2, makeFont(12, true), clBlack);
    RadioButton1 = make<QRadioButton>(GroupBox1, "RadioButton1");
    RadioButton1->setText(QStringLiteral("Создать новое исполнение болта и ввести размеры"));
    RadioButton1->setGeometry(15, 57, 341, 14);
    setLook(RadioButton1, makeFont(12, true), clBlack);

    ComboBox1 = make<QComboBox>(GroupBox1, "ComboBox1");
    // A plain list of names: a catalogue of many thousand variants fills it in one step.
    ComboBox1->setModel(new QStringListModel(ComboBox1));
    ComboBox1->setEditable(true);
    // Typed text never becomes an entry nor completes to one: the list is the catalogue.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCompleter(nullptr);
    setLook(ComboBox1, makeFont(12, true), clMaroon);
    ComboBox1->setGeometry(335, 21, 340, ComboBox1->sizeHint().height());

    Button1 = make<QPushButton>(GroupBox1, "Button1");
    Button1->setText(QStringLiteral("Добавить новое исполнение"));
    Button1->setGeometry(384, 49, 291, 24);
    setLook(Button1, makeFont(16, true), clBlack);
    Button1->setCursor(Qt::PointingHandCursor);

    GroupBox2 = make<QGroupBox>(GroupBox13, "GroupBox2");

    Image1 = make<QLabel>(GroupBox2, "Image1");
    Image1->setPixmap(QPixmap::fromImage(BoltDrawing()));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setScaledContents(false);

    Panel1 = makePanel(GroupBox2, "Panel1");

    Label1 = make<QLabel>(Panel1, "Label1");
    Label1->setText(QStringLiteral("Путь к файлу шаблона детали SolidWorks:"));
    setLook(Label1, makeFont(15, true), clBlack);
    Label1->move(13, 10);
    Label1->adjustSize();

    Button4 = make<QPushButton>(Panel1, "Button4");
    Button4->setText(QStringLiteral("Принять новый путь"));
    Button4->setGeometry(450, 8, 175, 20);

    Edit15 = make<QLineEdit>(Panel1, "Edit15");
    Edit15->setGeometry(13, 35, 676, 21);
    setLook(Edit15, makeFont(11, true), clGreen);

    Button2 = make<QPushButton>(Panel1, "Button2");
    Button2->setText(QStringLiteral("Построить 3D-модель в SolidWorks"));
    Button2->setGeometry(22, 65, 314, 24);
    setLook(Button2, makeFont(16, true), clBlack);
    Button2->setCursor(Qt::PointingHandCursor);

    Button3 = make<QPushButton>(Panel1, "Button3");
    Button3->setText(QStringLiteral("Закрыть SolidWorks"));
    Button3->setGeometry(426, 65, 199, 24);
    setLook(Button3, makeFont(16, true), clBlack);
    Button3->setCursor(Qt::PointingHandCursor);
    Button3->setEnabled(false);
    N9->setEnabled(Button2->isEnabled());

    // Made after the picture so that they lie on top of it.
    for (const BoxPlace& place : boxPlaces) {
        QLineEdit* box = make<QLineEdit>(GroupBox2, place.name);
        box->setGeometry(place.left, place.top, place.width, 24);
        setLook(box, makeFont(13, true), clBlue);
        this->*place.box = box;
    }

    Panel3 = makePanel(GroupBox13, "Panel3");

    Label17 = new LinkLabel(FooterLinkCaption(), Panel3);
    Label17->setObjectName(QStringLiteral("Label17"));
    Label17->setGeometry(61, 5, 582, 24);
    setLook(Label17, makeFont(19, true, true), clRed);
    Label17->setCursor(Qt::PointingHandCursor);

    QWidget* order[] = {RadioButton2, RadioButton1, ComboBox1, Button1, Button4, Edit15,
                        Button2,      Button3,      Edit1,     Edit2,   Edit3,   Edit4,
                        Edit5,        Edit6,        Edit7,     Edit8,   Edit9,   Edit10,
                        Edit11,       Edit12,       Edit13,    Edit14};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    GroupBox13->installEventFilter(this);
    GroupBox2->installEventFilter(this);
    // Client area 706 x 600 below the menu bar, centred on the screen.
    resize(706, 600 + MainMenu1->sizeHint().height());
    arrangeDocked();
    if (QScreen* screen = this->screen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TForm4::connectHandlers() {
    connect(RadioButton1, &QRadioButton::toggled, this, [this] { RadioButton1Click(); });
    connect(RadioButton2, &QRadioButton::toggled, this, [this] { RadioButton2Click(); });
    connect(ComboBox1, &QComboBox::activated, this, [this] {
        ComboBox1Click();
        ComboBox1Change();
    });
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] { ComboBox1Change(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(N5, &QAction::triggered, this, [this] { N5Click(); });
    connect(N6, &QAction::triggered, this, [this] { N6Click(); });
    connect(N7, &QAction::triggered, this, [this] { N7Click(); });
    connect(N9, &QAction::triggered, this, [this] { N9Click(); });
    connect(Label17, &LinkLabel::clicked, this, [this] { Label17Click(); });

    for (const ExitBinding& binding : exitBindings)
        (this->*binding.box)->installEventFilter(this);
    for (QWidget* button : std::initializer_list<QWidget*>{Button1, Button2, Button3, Button4,
                                                           RadioButton1, RadioButton2})
        button->installEventFilter(this);
}

bool TForm4::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return handled;
}

bool TForm4::eventFilter(QObject* watched, QEvent* event) {
    // The drawing is offered exactly when a build is.
    if (watched == Button2 && event->type() == QEvent::EnabledChange)
        N9->setEnabled(Button2->isEnabled());
    switch (event->type()) {
    case QEvent::FocusOut: {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // Losing focus to a message box, a menu or another window is not leaving the box;
        // leaving it from inside a handler (the focus put back) is not either.
        if (inExit_ || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
            reason == Qt::MenuBarFocusReason)
            break;
        for (const ExitBinding& binding : exitBindings) {
            if (watched != this->*binding.box)
                continue;
            const QPointer<QWidget> target = QApplication::focusWidget();
            inExit_ = true;
            struct Reset {
                bool& flag;
                ~Reset() { flag = false; }
            } reset{inExit_};
            (this->*binding.handler)();
            // The check put the focus back: the press that was taking it must not act.
            if (reason == Qt::MouseFocusReason && target && QApplication::focusWidget() != target) {
                refusedPress_ = target;
                // The press follows at once; a press that never comes must not linger.
                QTimer::singleShot(0, this, [this] { refusedPress_ = nullptr; });
            }
            break;
        }
        break;
    }
    case QEvent::MouseButtonPress:
        if (refusedPress_ && watched == refusedPress_) {
            refusedPress_ = nullptr;
            return true;
        }
        refusedPress_ = nullptr;
        break;
    case QEvent::Resize:
        if (watched == GroupBox13 || watched == GroupBox2)
            arrangeDocked();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm4::arrangeDocked() {
    // Inside a group the client area starts 18 pixels down, below the caption line, and
    // 2 pixels in from the other edges; the placed positions of the boxes assume it.
    const int width = GroupBox13->width();
    const int height = GroupBox13->height();
    const int inner = std::max(0, width - 4);
    GroupBox1->setGeometry(2, 18, inner, 87);
    Panel3->setGeometry(2, height - 2 - 40, inner, 40);
    GroupBox2->setGeometry(2, 18 + 87, inner, std::max(0, height - 2 - 40 - (18 + 87)));

    const int drawingWidth = std::max(0, GroupBox2->width() - 4);
    const int drawingHeight = GroupBox2->height();
    Panel1->setGeometry(2, drawingHeight - 2 - 95, drawingWidth, 95);
    // The picture is larger than its place and is cut at the right and bottom.
    Image1->setGeometry(2, 18, drawingWidth, std::max(0, drawingHeight - 2 - 95 - 18));
}

void TForm4::closeEvent(QCloseEvent* event) {
    // Hiding this window would leave the program running with nothing on screen.
    if (confirmExit()) {
        event->accept();
        qApp->exit(0);
    } else {
        event->ignore();
    }
}

bool TForm4::confirmExit() {
    return showMessage(QStringLiteral("Information"),
                       QStringLiteral("Вы уверены что хотите выйти из программы? "),
                       BoxIcon::Information, BoxButtons::YesNo) == BoxResult::Yes;
}

void TForm4::FormActivate() {
    if (activated_)
        return;
    // Set first: a catalogue error below must not make every later activation retry.
    activated_ = true;
    SetInitialState();
}

void TForm4::SetInitialState() {
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    ComboBox1->setEnabled(true);
    if (RadioButton1->isChecked()) {
        // An exclusive button cannot be unchecked on its own while it is the checked one.
        RadioButton1->setAutoExclusive(false);
        RadioButton1->setChecked(false);
        RadioButton1->setAutoExclusive(true);
    }
    // Runs RadioButton2Click through its toggle when it was not selected yet.
    RadioButton2->setChecked(true);
    FillVariantList();
    LockDimensionBoxes();
}

void TForm4::LockDimensionBoxes() {
    for (const BoxPlace& place : boxPlaces)
        (this->*place.box)->setEnabled(false);
}

void TForm4::RadioButton2Click() {
    if (!RadioButton2->isChecked())
        return;
    ComboBox1->setEnabled(true);
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    uiEffects().setFocus(ComboBox1);
    LastChosenName.clear();
    LockDimensionBoxes();
    FillVariantList();
}

void TForm4::RadioButton1Click() {
    if (!RadioButton1->isChecked())
        return;
    Button1->setEnabled(true);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    ComboBox1->setEnabled(false);
    PrepareNewVariant();
}

void TForm4::FillVariantList() {
    ComboBox1->clear();
    ComboBox1->setEditText(QString());
    ADOConnection1->Close();
    ADOConnection1->Open();
    ADOQuery1->Issue(SelectVariants);
    ADOQuery1->First();
    QStringList names;
    const int n = ADOQuery1->RecordCount();
    for (int i = 0; i < n; ++i) {
        names.append(ADOQuery1->FieldAsString(QStringLiteral("isp")));
        ADOQuery1->Next();
    }
    if (auto* list = qobject_cast<QStringListModel*>(ComboBox1->model()))
        list->setStringList(names);
    else
        ComboBox1->addItems(names);
    // Adding to an empty editable list selects its first entry; the text stays empty.
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());

    ADOQuery2->Issue(SelectTemplatePath);
    ADOQuery2->First();
    const QString path = ADOQuery2->FieldAsString(QStringLiteral("path_templete_detal"));
    Bolt.TemplatePath = path.toStdString();
    Edit15->setText(path);
}

void TForm4::PrepareNewVariant() {
    struct Step {
        QLineEdit* box;
        bool enabled;
        const char* text;
    };
    const Step steps[] = {
        {Edit4, true, ""},   {Edit3, true, ""},   {Edit11, true, ""},  {Edit5, false, ""},
        {Edit2, true, ""},   {Edit6, true, ""},   {Edit9, true, ""},   {Edit8, false, ""},
        {Edit12, false, ""}, {Edit1, true, "30"}, {Edit7, true, "45"}, {Edit10, true, "45"},
        {Edit14, true, ""},  {Edit13, true, ""},
    };
    for (const Step& step : steps) {
        step.box->setEnabled(step.enabled);
        step.box->setText(QString::fromUtf8(step.text));
    }
    Bolt.a = 30;
    Bolt.b = 45;
    Bolt.c = 45;
}

void TForm4::ComboBox1Click() {
    Button2->setEnabled(true);
    LoadSelectedVariant();
    LastChosenName = ComboBox1->currentText();
}

void TForm4::ComboBox1Change() {
    ComboBox1->setEditText(LastChosenName);
}

void TForm4::LoadSelectedVariant() {
    const QString name = ComboBox1->currentText();
    Bolt.isp = name.toStdString();
    // The name is bound, never spliced into the statement: any text is just a name.
    ADOQuery1->Issue(SelectVariantByName, {name});
    ADOQuery1->First();
    for (const LoadStep& step : loadSteps) {
        const double value = ADOQuery1->FieldAsFloat(QString::fromLatin1(step.column));
        Bolt.*step.field = value;
        (this->*step.box)->setText(FormatNumber(value));
    }
}

void TForm4::Button1Click() {
    AddNewVariant();
}

void TForm4::AddNewVariant() {
    // The record holds what the check put there when each box was left. A box whose leaving
    // went unseen (text dropped in, the window inactive as it was left) is checked now, so
    // that its field and the derived ones match what is shown.
    const AddStep* unfilled = nullptr;
    for (const AddStep& step : addSteps) {
        const std::optional<double> shown = ParseDimension((this->*step.box)->text());
        if (!shown) {
            // A text that is no number is as good as none: the record's older value is not
            // what the box shows.
            unfilled = &step;
            break;
        }
        // The derived fields are shown only, never typed: their boxes show them as written.
        bool stale = *shown != Bolt.*step.fields[0].field;
        for (int i = 1; i < step.fieldCount; ++i) {
            double TBolt::*const field = step.fields[i].field;
            stale = stale || (this->*boxShowing(field))->text() != FormatNumber(Bolt.*field);
        }
        if (stale)
            (this->*step.exit)();
    }

    // Held from reading the names to storing the row: a second Krepiks adding at the same
    // moment waits, then reads this row and takes the next name.
    TWriteLock lock(*ADOConnection1);
    ADOQuery1->Issue(SelectVariants);
    const int rowCount = ADOQuery1->RecordCount();
    QSet<QString> taken;
    taken.reserve(rowCount);
    for (ADOQuery1->First(); !ADOQuery1->Eof(); ADOQuery1->Next())
        taken.insert(ADOQuery1->FieldAsString(QStringLiteral("isp")));
    const QString name = FreeVariantName(rowCount, taken);
    Bolt.isp = name.toStdString();
    ADOQuery1->Append();
    ADOQuery1->SetField(QStringLiteral("isp"), name);
    if (unfilled) {
        lock.Release(); // not held while the message waits for the user
        // The appended row stays unposted and is dropped when the query next closes.
        showMessage(QStringLiteral("Error"), QString::fromUtf8(unfilled->message), BoxIcon::Error,
                    BoxButtons::Ok);
        uiEffects().setFocus(this->*unfilled->box);
        return;
    }
    for (const AddStep& step : addSteps)
        for (int i = 0; i < step.fieldCount; ++i)
            ADOQuery1->SetField(QString::fromLatin1(step.fields[i].column),
                                Bolt.*step.fields[i].field);
    ADOQuery1->Post();
    lock.Commit();
}

void TForm4::Edit1Exit() {
    if (const auto value = ReadDimension(Edit1))
        Bolt.a = *value;
}

void TForm4::Edit2Exit() {
    if (const auto value = ReadDimension(Edit2))
        Bolt.R = *value;
}

void TForm4::Edit3Exit() {
    if (const auto value = ReadDimension(Edit3))
        Bolt.d1 = *value;
}

void TForm4::Edit4Exit() {
    if (const auto value = ReadDimension(Edit4))
        Bolt.d0 = *value;
}

void TForm4::Edit6Exit() {
    if (const auto value = ReadDimension(Edit6))
        Bolt.K = *value;
}

void TForm4::Edit7Exit() {
    if (const auto value = ReadDimension(Edit7))
        Bolt.b = *value;
}

void TForm4::Edit9Exit() {
    if (const auto value = ReadDimension(Edit9))
        Bolt.L = *value;
    Bolt.L2 = Bolt.L / 2;
    Edit8->setText(FormatNumber(Bolt.L2));
    Bolt.L3 = Bolt.L / 10;
    Edit12->setText(FormatNumber(Bolt.L3));
}

void TForm4::Edit10Exit() {
    if (const auto value = ReadDimension(Edit10))
        Bolt.c = *value;
}

void TForm4::Edit11Exit() {
    if (const auto value = ReadDimension(Edit11))
        Bolt.d2 = *value;
}

void TForm4::Edit13Exit() {
    if (const auto value = ReadDimension(Edit13))
        Bolt.e = *value;
}

void TForm4::Edit14Exit() {
    if (const auto value = ReadDimension(Edit14))
        Bolt.S = *value;
    Bolt.D = 0.95 * Bolt.S;
    Edit5->setText(FormatNumber(Bolt.D));
}

void TForm4::Edit15Exit() {
    Bolt.TemplatePath = Edit15->text().toStdString();
}

void TForm4::Button4Click() {
    const QString path = QString::fromStdString(Bolt.TemplatePath);
    // Storing it would cut it short in the catalogue, or fail there.
    if (path.size() > MaxTemplatePathLength) {
        showMessage(ApplicationTitle,
                    QStringLiteral("Путь к файлу шаблона длиннее 250 символов и не может быть "
                                   "сохранён!"),
                    BoxIcon::Error, BoxButtons::Ok);
        return;
    }
    ADOQuery2->First();
    ADOQuery2->Edit();
    ADOQuery2->SetField(QStringLiteral("path_templete_detal"), path);
    ADOQuery2->Post();
}

void TForm4::N5Click() {
    ShowAboutWindow();
}

void TForm4::N6Click() {
    if (confirmExit())
        qApp->exit(0);
}

void TForm4::N7Click() {
    ShowTableWindow();
}

void TForm4::N9Click() {
    SaveBoltDrawing(this, Bolt);
}

void TForm4::BuildModel() {
    krepiks::BuildModel(Bolt);
}

void TForm4::Button2Click() {
    uiEffects().setWaitCursor();
    struct RestoreCursor {
        ~RestoreCursor() { uiEffects().restoreCursor(); }
    } restore;
    BuildModel();
    Button3->setEnabled(true);
}

void TForm4::Button3Click() {
    CloseSolidWorks();
}

void TForm4::Label17Click() {
    OpenMakerWebSite();
}

} // namespace krepiks
