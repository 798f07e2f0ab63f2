#include "platform/window_registry.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace krepiks {

namespace {

struct TopWindow {
    HWND handle;
    std::u16string className;
    std::u16string windowName;
    std::function<void()> onForeground;
};

struct Registry {
    std::vector<TopWindow> zOrder; // front first
    std::uintptr_t lastHandle = 0;
    HWND foreground = nullptr;

    std::vector<TopWindow>::iterator find(HWND window) {
        return std::find_if(zOrder.begin(), zOrder.end(),
                            [&](const TopWindow& w) { return w.handle == window; });
    }
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

HWND CreateTopWindow(std::u16string className, std::u16string windowName,
                     std::function<void()> onForeground) {
    Registry& r = registry();
    // Handles are never reused, so a stale one cannot reach a newer window.
    HWND handle = reinterpret_cast<HWND>(++r.lastHandle);
    r.zOrder.insert(r.zOrder.begin(), TopWindow{handle, std::move(className), std::move(windowName),
                                                std::move(onForeground)});
    return handle;
}

void DestroyTopWindow(HWND window) {
    Registry& r = registry();
    const auto it = r.find(window);
    if (it == r.zOrder.end())
        return;
    r.zOrder.erase(it);
    if (r.foreground == window)
        r.foreground = nullptr;
}

HWND FindWindowW(const char16_t* className, const char16_t* windowName) {
    if (!className)
        return nullptr;
    for (const TopWindow& w : registry().zOrder)
        if (w.className == className && (!windowName || w.windowName == windowName))
            return w.handle;
    return nullptr;
}

bool SetForegroundWindow(HWND window) {
    Registry& r = registry();
    auto it = r.find(window);
    if (it == r.zOrder.end())
        return false;
    std::rotate(r.zOrder.begin(), it, it + 1);
    r.foreground = window;
    // Copied out: the action may create or destroy windows.
    const std::function<void()> action = r.zOrder.front().onForeground;
    if (action)
        action();
    return true;
}

HWND GetForegroundWindow() {
    return registry().foreground;
}

bool IsWindow(HWND window) {
    Registry& r = registry();
    return window && r.find(window) != r.zOrder.end();
}

} // namespace krepiks
