#include "catalogue/unit2.h"

#include "catalogue/data_controls.h"
#include "catalogue/database.h"
#include "catalogue/table_query.h"
#include "platform/bevel_panel.h"
#include "platform/link_label.h"
#include "platform/ui_effects.h"
#include "shell/error_report.h"
#include "shell/forms.h"
#include "shell/web_address.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace krepiks {

TForm2* Form2 = nullptr;

namespace {

const QColor clMaroon(0x80, 0x00, 0x00);
const QColor clRed(0xFF, 0x00, 0x00);

QFont makeFont(const QString& family, int pixels, bool bold = false, bool underline = false) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QFont tahoma(int pixels, bool bold = false) {
    return makeFont(QStringLiteral("Tahoma"), pixels, bold);
}

// Enabled groups only: a disabled control keeps the style's grey.
void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
    }
    widget->setPalette(palette);
}

template <class T> T* make(QWidget* parent, const char* name) {
    auto* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

constexpr int NameWidth = 70;
constexpr int DimensionWidth = 50;

} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Таблица болтов"));
    setFont(tahoma(10));
    ADOQuery1 = new TTableQuery(CatalogueConnection(), this);
    ADOQuery1->setObjectName(QStringLiteral("ADOQuery1"));
    createLayout();
    ADOQuery1->SQL.append(QStringLiteral("select * from Размеры order by id;"));
    ADOQuery1->Open();
    // A cursor still reading holds the file's read lock, which would keep other writers out.
    connect(this, &QDialog::finished, ADOQuery1, &TTableQuery::FinishReading);
}

TForm2::~TForm2() = default;

void TForm2::createLayout() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    DBGrid1 = make<TDBGrid>(this, "DBGrid1");
    DBGrid1->setFont(tahoma(11, true));
    setTextColor(DBGrid1, clMaroon);
    DBGrid1->setDataSet(ADOQuery1);
    QHeaderView* titles = DBGrid1->horizontalHeader();
    titles->setFont(tahoma(12, true));
    titles->setPalette(palette());
    titles->setDefaultAlignment(Qt::AlignCenter);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setStretchLastSection(false);
    titles->setHighlightSections(false);
    DBGrid1->setColumnHidden(TTableQuery::KeyColumn, true);
    DBGrid1->setColumnWidth(TTableQuery::NameColumn, NameWidth);
    for (int column = TTableQuery::NameColumn + 1; column < ADOQuery1->columnCount(); ++column)
        DBGrid1->setColumnWidth(column, DimensionWidth);
    QHeaderView* indicator = DBGrid1->verticalHeader();
    indicator->setPalette(palette());
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setMinimumSectionSize(1);
    indicator->setDefaultSectionSize(DBGrid1->fontMetrics().height() + 4);
    indicator->setDefaultAlignment(Qt::AlignCenter);
    layout->addWidget(DBGrid1, 1);

    DBNavigator2 = make<TDBNavigator>(this, "DBNavigator2");
    DBNavigator2->setFixedHeight(25);
    DBNavigator2->setDataSet(ADOQuery1);
    layout->addWidget(DBNavigator2);

    // Never shown and given no command; hidden, it takes no room in the layout.
    Button1 = make<QPushButton>(this, "Button1");
    Button1->setText(QStringLiteral("Выбрать"));
    Button1->setFont(tahoma(15, true));
    Button1->setCursor(Qt::PointingHandCursor);
    Button1->setFixedHeight(19);
    Button1->setEnabled(false);
    Button1->hide();
    layout->addWidget(Button1);

    Panel3 = new BevelPanel(BevelPanel::Bevel::Raised, BevelPanel::Bevel::Lowered, 1, this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(40);
    layout->addWidget(Panel3);

    Label1 = new LinkLabel(FooterLinkCaption(), Panel3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(makeFont(QStringLiteral("MS Sans Serif"), 24, true, true));
    setTextColor(Label1, clRed);
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->move(32, 5);
    Label1->adjustSize();
    connect(Label1, &LinkLabel::clicked, this, &TForm2::Label1Click);

    // Client area 840 x 378, not resizable; a dialog without a parent opens centred.
    setFixedSize(840, 378);
}

void TForm2::FormActivate() {
    ADOQuery1->Close();
    ADOQuery1->SQL.clear();
    ADOQuery1->SQL.append(QStringLiteral("select * from  Размеры order by id;"));
    ADOQuery1->Open();
    ADOQuery1->First();
}

void TForm2::Label1Click() {
    OpenMakerWebSite();
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A show of our own (not the window coming back from minimised) is an opening.
    if (event->spontaneous())
        return;
    try {
        FormActivate();
    } catch (const std::exception& error) {
        // The window still opens, with an empty grid.
        ShowErrorReport(error);
    }
    uiEffects().setFocus(DBGrid1);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    // The window has no cancel button: Esc leaves it open.
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace krepiks
