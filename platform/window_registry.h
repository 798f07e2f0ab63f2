#pragma once
// Top-level windows by class name, as FindWindowW and SetForegroundWindow see them. Windows
// that live outside this program's widgets (such as the browser's frame) register here.
// The list is kept in z-order: the most recently created or raised window first.
#include <functional>
#include <string>

namespace krepiks {

struct HWND__;
using HWND = HWND__*;

// Adds a top-level window; onForeground runs when it is brought to the foreground.
// Returns its handle, never null.
HWND CreateTopWindow(std::u16string className, std::u16string windowName = {},
                     std::function<void()> onForeground = {});
// Removes it; unknown or null handles are ignored.
void DestroyTopWindow(HWND window);

// The first window in z-order whose class is className (exactly) and, when windowName is
// not null, whose name is windowName. Null when there is none.
HWND FindWindowW(const char16_t* className, const char16_t* windowName);
// Raises the window to the top of the z-order and runs its foreground action. False for a
// handle that is not (or no longer) a window.
bool SetForegroundWindow(HWND window);
// The window last brought to the foreground, while it exists; else null.
HWND GetForegroundWindow();
bool IsWindow(HWND window);

} // namespace krepiks
