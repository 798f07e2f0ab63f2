// Top-level window look-up by class, in z-order, and bringing a window to the foreground.
#include "platform/window_registry.h"

#include <gtest/gtest.h>
#include <vector>

using namespace krepiks;

TEST(WindowRegistry, FindsTheFrontmostWindowOfAClassAndRaisesIt) {
    std::vector<int> raised;
    HWND back = CreateTopWindow(u"IEFrame", u"first", [&] { raised.push_back(1); });
    HWND other = CreateTopWindow(u"Notepad", u"first");
    HWND front = CreateTopWindow(u"IEFrame", u"second");
    EXPECT_EQ(FindWindowW(u"IEFrame", nullptr), front);
    EXPECT_EQ(FindWindowW(u"IEFrame", u"first"), back);
    EXPECT_EQ(FindWindowW(u"ieframe", nullptr), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, u"first"), nullptr);

    EXPECT_TRUE(SetForegroundWindow(back));
    EXPECT_EQ(raised, std::vector<int>{1});
    EXPECT_EQ(GetForegroundWindow(), back);
    EXPECT_EQ(FindWindowW(u"IEFrame", nullptr), back) << "raised to the top of the z-order";

    DestroyTopWindow(back);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(FindWindowW(u"IEFrame", nullptr), front);
    EXPECT_FALSE(SetForegroundWindow(back)) << "a destroyed window stays gone";
    HWND again = CreateTopWindow(u"IEFrame");
    EXPECT_NE(again, back) << "handles are not reused";
    for (HWND w : {front, front, again, other, HWND{}})
        DestroyTopWindow(w);
    EXPECT_EQ(FindWindowW(u"IEFrame", nullptr), nullptr);
}

TEST(WindowRegistry, AForegroundActionMayChangeTheRegistry) {
    HWND spawned = nullptr;
    HWND window = nullptr;
    window = CreateTopWindow(u"Host", {}, [&] {
        spawned = CreateTopWindow(u"Child");
        DestroyTopWindow(window);
    });
    EXPECT_TRUE(SetForegroundWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(FindWindowW(u"Child", nullptr), spawned);
    DestroyTopWindow(spawned);
}
