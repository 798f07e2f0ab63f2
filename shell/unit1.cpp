#include "shell/unit1.h"

#include "design/unit4.h"
#include "shell/application.h"
#include "shell/web_address.h"

#include <QTimer>

namespace krepiks {

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form1"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    FormCreate();
    Timer1->start();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    TimerTicks = 0;
    QApplication::setApplicationDisplayName(ApplicationTitle);
}

void TForm1::Timer1Timer() {
    if (TimerTicks == 0)
        Form4->show();
    ++TimerTicks;
    setVisible(false);
}

void TForm1::Label1Click() { OpenWebSite(WebAddress); }

void TForm1::OpenWebSite(const QString&) {}

} // namespace krepiks
