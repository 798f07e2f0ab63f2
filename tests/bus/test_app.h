#pragma once
// The automation objects of the bus tests' server: an application whose members take and
// give each kind of value, hand out child objects (counting the names asked of them), write through
// references, raise the server's own error, hang, and quit. Plain C++; the same objects serve
// in-process too.
#include "automation/automation.h"

#include <functional>
#include <string>

namespace bustest {

inline constexpr char16_t TestProgId[] = u"KrepiksBusTest.Application";
// The same application under a name of its own, for a second server program beside the first.
inline constexpr char16_t SecondProgId[] = u"KrepiksBusTest.Second";

struct TestHooks {
    std::function<void()> quit;       // Quit
    std::function<int()> heldHandles; // HeldHandles; 0 without it
    std::function<int()> messages;    // Messages, those the server has served; 0 without it
};

// Child objects alive in this process.
int LiveChildren();

automation::DispatchPtr MakeTestApplication(TestHooks hooks);

// Registers progId in-process: creation hands out the one running application (also in
// the running-object table) and makes a new one once it has quit.
void RegisterTestServer(TestHooks hooks, const std::u16string& progId = TestProgId);

} // namespace bustest
