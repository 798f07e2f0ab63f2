#include "shell/unit1.h"

#include "design/unit4.h"
#include "model/ole_call.h"
#include "platform/bevel_panel.h"
#include "platform/browser/browser.h"
#include "platform/exception.h"
#include "platform/icons.h"
#include "platform/link_label.h"
#include "platform/window_registry.h"
#include "resources/drawing.h"
#include "shell/application.h"
#include "shell/web_address.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace krepiks {

TForm1* Form1 = nullptr;

namespace {

using automation::Variant;

// The browser the opener started; kept until the program ends.
automation::DispatchPtr BrowserApp;

QFont sansSerif(int pixelSize, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void setColours(QWidget* widget, const QColor& text, const QColor* background = nullptr) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    if (background) {
        palette.setColor(QPalette::Window, *background);
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(palette);
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Form1"));
    resize(714, 392);

    using Bevel = BevelPanel::Bevel;
    Panel1 = new BevelPanel(Bevel::Lowered, Bevel::Space, 2, this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 714, 362);
    Panel2 = new BevelPanel(Bevel::Space, Bevel::Raised, 2, Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(Panel1->clientRect());
    ProgramIcon = new QLabel(Panel2);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ProgramIcon->setPixmap(QPixmap::fromImage(BoltDrawing()));
    ProgramIcon->setGeometry(Panel2->clientRect());

    Label6 = new QLabel(ApplicationTitle, Panel2);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setFont(sansSerif(32, true));
    const QColor black(Qt::black);
    setColours(Label6, Qt::white, &black);
    Label6->move(474, 312);
    Label6->adjustSize();
    Label6->raise();

    Panel3 = new BevelPanel(Bevel::Raised, Bevel::Lowered, 1, this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setGeometry(0, 362, 714, 30);
    Label1 = new LinkLabel(FooterLinkCaption(), Panel3);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont link = sansSerif(19, true);
    link.setUnderline(true);
    Label1->setFont(link);
    setColours(Label1, Qt::red);
    Label1->move(40, 2);
    Label1->adjustSize();
    connect(Label1, &LinkLabel::clicked, this, &TForm1::Label1Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    FormCreate();
    Timer1->start();
}

TForm1::~TForm1() {
    BrowserApp.reset();
}

bool TForm1::browserHeld() const {
    return static_cast<bool>(BrowserApp);
}

void TForm1::FormCreate() {
    TimerTicks = 0;
    QApplication::setWindowIcon(LoadIconW(HInstance(), u"ICON1"));
    QApplication::setApplicationName(ApplicationTitle);
    QApplication::setApplicationDisplayName(ApplicationTitle);
    // Lets the desktop match the windows to the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("krepiks"));
}

void TForm1::Timer1Timer() {
    // Counted before the hand-over: an error box raised while the design window shows
    // itself runs its own event loop, and a tick inside it must not hand over again.
    const bool first = TimerTicks == 0;
    ++TimerTicks;
    if (first && Form4) {
        // Showing the design window also activates it, which lets it initialise itself.
        Form4->show();
        Form4->raise();
        Form4->activateWindow();
    }
    setVisible(false);
}

void TForm1::Label1Click() {
    OpenWebSite(WebAddress);
}

void TForm1::OpenWebSite(const QString& address) {
    const Variant url = Variant::fromBStr(automation::BStr(address.toStdU16String()));
    if (!BrowserApp) {
        automation::CLSID clsid;
        OleCheck(automation::CLSIDFromProgID(BrowserProgId, &clsid));
        automation::DispatchPtr created;
        OleCheck(automation::CoCreateInstance(
            clsid, nullptr, automation::CLSCTX_INPROC_SERVER | automation::CLSCTX_LOCAL_SERVER,
            created.put()));
        if (!created)
            OleCheck(automation::E_NOINTERFACE);
        BrowserApp = created;
        const OleVariant browser(BrowserApp);
        browser.put(u"Visible", Bool(true));
        browser.send(u"Navigate", {url});
        return;
    }
    const HWND frame = FindWindowW(BrowserFrameClass, nullptr);
    if (!frame)
        return;
    OleVariant(BrowserApp).send(u"Navigate", {url});
    SetForegroundWindow(frame);
}

} // namespace krepiks
