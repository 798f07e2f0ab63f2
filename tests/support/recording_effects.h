#pragma once
// Records every user-visible effect and answers message boxes from a queue, so tests
// never block on a real modal box.
#include "platform/ui_effects.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

namespace krepiks::test {

class RecordingEffects : public UiEffects {
public:
    enum class Kind { Box, Beep, WaitCursor, RestoreCursor, Focus, Url };
    struct Event {
        Kind kind;
        MessageBoxRequest box;    // Kind::Box
        QPointer<QWidget> widget; // Kind::Focus
        QUrl url;                 // Kind::Url
    };

    RecordingEffects();           // installs itself
    ~RecordingEffects() override; // restores the previous effects

    BoxResult messageBox(const MessageBoxRequest& request) override;
    void beep() override;
    void setWaitCursor() override;
    void restoreCursor() override;
    void setFocus(QWidget* widget) override;
    bool openUrl(const QUrl& url) override;

    // Answers for the next boxes, in order; without one, a box is answered with its first
    // button (OK or Yes).
    void answerNext(BoxResult result) { answers.push_back(result); }
    // Runs while a box is "open", e.g. to check the state under it.
    std::function<void(const MessageBoxRequest&)> onBox;

    std::vector<MessageBoxRequest> boxes() const;
    int count(Kind kind) const;
    void clear() { events.clear(); }
    bool waitCursorShown() const { return cursorDepth > 0; }

    std::vector<Event> events;
    std::deque<BoxResult> answers;
    bool urlHandlerWorks = true;
    int cursorDepth = 0;

private:
    UiEffects* previous_;
};

} // namespace krepiks::test
