#include "platform/ui_effects.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace krepiks {

namespace {

DesktopUiEffects desktopEffects;
UiEffects* activeEffects = &desktopEffects;

QMessageBox::Icon toQtIcon(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

BoxResult DesktopUiEffects::messageBox(const MessageBoxRequest& request) {
    QMessageBox box(toQtIcon(request.icon), request.caption, request.text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* yes = nullptr;
    switch (request.buttons) {
    case BoxButtons::Ok:
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        break;
    case BoxButtons::OkCancel:
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel);
        break;
    case BoxButtons::YesNo:
        yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        break;
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    switch (request.buttons) {
    case BoxButtons::Ok:
        return BoxResult::Ok;
    case BoxButtons::OkCancel:
        return clicked == ok ? BoxResult::Ok : BoxResult::Cancel;
    case BoxButtons::YesNo:
        return clicked == yes ? BoxResult::Yes : BoxResult::No;
    }
    return BoxResult::Ok;
}

void DesktopUiEffects::beep() {
    QApplication::beep();
}

void DesktopUiEffects::setWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void DesktopUiEffects::restoreCursor() {
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void DesktopUiEffects::setFocus(QWidget* widget) {
    if (widget)
        widget->setFocus(Qt::OtherFocusReason);
}

bool DesktopUiEffects::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

UiEffects& uiEffects() {
    return *activeEffects;
}

UiEffects* setUiEffects(UiEffects* effects) {
    UiEffects* previous = activeEffects;
    activeEffects = effects ? effects : &desktopEffects;
    return previous;
}

BoxResult showMessage(const QString& caption, const QString& text, BoxIcon icon,
                      BoxButtons buttons) {
    return uiEffects().messageBox({caption, text, icon, buttons});
}

} // namespace krepiks
