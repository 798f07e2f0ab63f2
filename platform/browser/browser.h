#pragma once
// The automation class "InternetExplorer.Application" of this platform: a browser object
// that hands the addresses it is given to the desktop's URL handler. While it is visible it
// owns a top-level window of class "IEFrame" in the window registry.
#include "automation/automation.h"

namespace krepiks {

inline constexpr char16_t BrowserProgId[] = u"InternetExplorer.Application";
inline constexpr char16_t BrowserFrameClass[] = u"IEFrame";

// Registers the class under BrowserProgId (again: replaces the earlier registration).
void RegisterBrowserClass();

// The class factory: a new browser object, hidden, with no address.
automation::HRESULT CreateBrowserObject(automation::IDispatch** out);

} // namespace krepiks
