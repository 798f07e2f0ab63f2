#include "support/recording_effects.h"

namespace krepiks::test {

RecordingEffects::RecordingEffects() : previous_(setUiEffects(this)) {}

RecordingEffects::~RecordingEffects() {
    setUiEffects(previous_);
}

BoxResult RecordingEffects::messageBox(const MessageBoxRequest& request) {
    events.push_back({Kind::Box, request, {}, {}});
    if (onBox)
        onBox(request);
    if (!answers.empty()) {
        const BoxResult result = answers.front();
        answers.pop_front();
        return result;
    }
    return request.buttons == BoxButtons::YesNo ? BoxResult::Yes : BoxResult::Ok;
}

void RecordingEffects::beep() {
    events.push_back({Kind::Beep, {}, {}, {}});
}

void RecordingEffects::setWaitCursor() {
    ++cursorDepth;
    events.push_back({Kind::WaitCursor, {}, {}, {}});
}

void RecordingEffects::restoreCursor() {
    cursorDepth = 0;
    events.push_back({Kind::RestoreCursor, {}, {}, {}});
}

void RecordingEffects::setFocus(QWidget* widget) {
    events.push_back({Kind::Focus, {}, widget, {}});
    if (widget)
        widget->setFocus(Qt::OtherFocusReason);
}

bool RecordingEffects::openUrl(const QUrl& url) {
    events.push_back({Kind::Url, {}, {}, url});
    return urlHandlerWorks;
}

std::vector<MessageBoxRequest> RecordingEffects::boxes() const {
    std::vector<MessageBoxRequest> result;
    for (const Event& e : events)
        if (e.kind == Kind::Box)
            result.push_back(e.box);
    return result;
}

int RecordingEffects::count(Kind kind) const {
    int n = 0;
    for (const Event& e : events)
        n += e.kind == kind;
    return n;
}

} // namespace krepiks::test
