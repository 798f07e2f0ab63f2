#pragma once
// The one place where windows reach the user outside their own widgets: message boxes,
// the beep, the application cursor, focus moves and opening addresses. Tests install
// their own implementation to watch and answer without a real modal box.
#include <QString>
#include <QUrl>

class QWidget;

namespace krepiks {

enum class BoxIcon { None, Error, Information, Warning, Question };

// Button sets as the boxes of this program use them.
enum class BoxButtons { Ok, OkCancel, YesNo };

enum class BoxResult { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    QString caption;
    QString text;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
};

class UiEffects {
public:
    virtual ~UiEffects() = default;
    virtual BoxResult messageBox(const MessageBoxRequest& request) = 0;
    virtual void beep() = 0;
    virtual void setWaitCursor() = 0;
    virtual void restoreCursor() = 0;
    virtual void setFocus(QWidget* widget) = 0;
    // Returns false when no handler could open the address.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The real effects: QMessageBox, QApplication::beep, override cursor, QDesktopServices.
class DesktopUiEffects : public UiEffects {
public:
    BoxResult messageBox(const MessageBoxRequest& request) override;
    void beep() override;
    void setWaitCursor() override;
    void restoreCursor() override;
    void setFocus(QWidget* widget) override;
    bool openUrl(const QUrl& url) override;
};

UiEffects& uiEffects();
// Replaces the active effects; returns the previous ones. Passing nullptr restores the
// desktop effects. The caller keeps ownership.
UiEffects* setUiEffects(UiEffects* effects);

// Convenience for the common box shapes.
BoxResult showMessage(const QString& caption, const QString& text, BoxIcon icon = BoxIcon::None,
                      BoxButtons buttons = BoxButtons::Ok);

} // namespace krepiks
