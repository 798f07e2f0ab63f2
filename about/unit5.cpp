#include "about/unit5.h"

#include "platform/bevel_panel.h"
#include "platform/link_label.h"
#include "platform/ui_effects.h"
#include "resources/drawing.h"
#include "shell/error_report.h"
#include "shell/forms.h"
#include "shell/web_address.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace krepiks {

TForm5* Form5 = nullptr;

namespace {

QFont sansSerif(int pixelSize, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// A panel whose one child fills it inside its bevels and follows its size.
QVBoxLayout* fillInside(BevelPanel* panel) {
    auto* layout = new QVBoxLayout(panel);
    const int border = panel->borderWidth();
    layout->setContentsMargins(border, border, border, border);
    layout->setSpacing(0);
    return layout;
}

} // namespace

TForm5::TForm5(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("О программе"));
    setFont(sansSerif(11, false));
    resize(713, 420);

    using Bevel = BevelPanel::Bevel;
    // From the bottom edge up: footer, button, then the picture panels take the rest.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel1 = new BevelPanel(Bevel::Lowered, Bevel::Space, 2, this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel2 = new BevelPanel(Bevel::Space, Bevel::Raised, 2, Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    fillInside(Panel1)->addWidget(Panel2);

    ProgramIcon = new QLabel(Panel2);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ProgramIcon->setPixmap(QPixmap::fromImage(BoltDrawing()));
    // Cut off rather than hold the window at the picture's size.
    ProgramIcon->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    fillInside(Panel2)->addWidget(ProgramIcon);

    Label6 = new QLabel(ApplicationTitle, Panel2);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setFont(sansSerif(32, true));
    QPalette title = Label6->palette();
    title.setColor(QPalette::WindowText, Qt::white);
    title.setColor(QPalette::Window, Qt::black);
    Label6->setPalette(title);
    Label6->setAutoFillBackground(true);
    Label6->move(466, 296);
    Label6->adjustSize();
    Label6->raise();

    Button2 = new QPushButton(QStringLiteral("Закрыть"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setFont(sansSerif(15, true));
    Button2->setCursor(Qt::PointingHandCursor);
    Button2->setFixedHeight(25);
    Button2->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(Button2, &QPushButton::clicked, this, &TForm5::Button1Click);

    Panel3 = new BevelPanel(Bevel::Raised, Bevel::Lowered, 1, this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(40);
    Label1 = new LinkLabel(FooterLinkCaption(), Panel3);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont link = sansSerif(19, true);
    link.setUnderline(true);
    Label1->setFont(link);
    QPalette red = Label1->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label1->setPalette(red);
    Label1->move(80, 5);
    Label1->adjustSize();
    connect(Label1, &LinkLabel::clicked, this, &TForm5::Label1Click);

    column->addWidget(Panel1, 1);
    column->addWidget(Button2);
    column->addWidget(Panel3);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm5::Button1Click() {
    reject();
}

void TForm5::Label1Click() {
    OpenMakerWebSite();
}

void TForm5::keyPressEvent(QKeyEvent* event) {
    // The close button is not the cancel button: Esc leaves the window open.
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    uiEffects().setFocus(Button2);
}

} // namespace krepiks
