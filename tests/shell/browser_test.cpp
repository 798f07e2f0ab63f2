// The browser stand-in behind "InternetExplorer.Application".
#include "automation/invoke.h"
#include "platform/browser/browser.h"
#include "platform/window_registry.h"
#include "support/recording_effects.h"

#include <gtest/gtest.h>

using namespace krepiks;
using namespace automation;
using krepiks::test::RecordingEffects;

namespace {

DispatchPtr newBrowser() {
    DispatchPtr browser;
    EXPECT_EQ(CreateBrowserObject(browser.put()), S_OK);
    return browser;
}

CallOutcome put(const DispatchPtr& b, const char16_t* member, Variant value) {
    return DispatchInvoke(b.get(), member, CallKind::Put, {value}, nullptr);
}

CallOutcome navigate(const DispatchPtr& b, const std::u16string& address) {
    return DispatchInvoke(b.get(), u"Navigate", CallKind::Method,
                          {Variant::fromBStr(BStr(address))}, nullptr);
}

bool visible(const DispatchPtr& b) {
    Variant v;
    EXPECT_TRUE(DispatchInvoke(b.get(), u"Visible", CallKind::Get, {}, &v).ok());
    return v.boolVal() == VARIANT_TRUE;
}

} // namespace

TEST(Browser, NavigateOpensTheAddressOnceVisibleAndTheFrameLivesWhileVisible) {
    RecordingEffects effects;
    DispatchPtr browser = newBrowser();
    // Hidden: no frame, and the address waits until the browser is shown.
    ASSERT_TRUE(navigate(browser, u"https://example.org/a").ok());
    EXPECT_EQ(effects.count(RecordingEffects::Kind::Url), 0);
    EXPECT_FALSE(visible(browser));
    EXPECT_EQ(FindWindowW(BrowserFrameClass, nullptr), nullptr);
    ASSERT_TRUE(put(browser, u"Visible", Variant::fromBool(true)).ok());
    EXPECT_TRUE(visible(browser));
    EXPECT_NE(FindWindowW(BrowserFrameClass, nullptr), nullptr);
    ASSERT_EQ(effects.count(RecordingEffects::Kind::Url), 1);
    EXPECT_EQ(effects.events.back().url, QUrl("https://example.org/a"));
    // Making it visible again does not open the address a second time.
    ASSERT_TRUE(put(browser, u"Visible", Variant::fromBool(true)).ok());
    EXPECT_EQ(effects.count(RecordingEffects::Kind::Url), 1);

    ASSERT_TRUE(navigate(browser, u"www.example.org/b").ok());
    ASSERT_EQ(effects.count(RecordingEffects::Kind::Url), 2);
    EXPECT_EQ(effects.events.back().url, QUrl("http://www.example.org/b"));
    Variant location;
    ASSERT_TRUE(DispatchInvoke(browser.get(), u"LocationURL", CallKind::Get, {}, &location).ok());
    EXPECT_EQ(location.bstrVal().str(), u"http://www.example.org/b");

    ASSERT_TRUE(put(browser, u"visible", Variant::fromBool(false)).ok());
    EXPECT_EQ(FindWindowW(BrowserFrameClass, nullptr), nullptr);
}

TEST(Browser, RefusedAddressesAndAMissingHandlerFailTheCall) {
    RecordingEffects effects;
    DispatchPtr browser = newBrowser();
    ASSERT_TRUE(put(browser, u"Visible", Variant::fromBool(true)).ok());
    for (const char16_t* bad :
         {u"", u"   ", u"javascript:alert(1)", u"mailto:someone@example.org"}) {
        const CallOutcome outcome = navigate(browser, bad);
        EXPECT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.code, E_INVALIDARG);
    }
    EXPECT_EQ(effects.count(RecordingEffects::Kind::Url), 0);
    EXPECT_FALSE(DispatchInvoke(browser.get(), u"Navigate", CallKind::Method, {}, nullptr).ok());

    effects.urlHandlerWorks = false;
    const CallOutcome outcome = navigate(browser, u"https://example.org/");
    ASSERT_EQ(outcome.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(outcome.code, hr(0x80070483));
    EXPECT_EQ(outcome.message,
              "No application is associated with the specified file for this operation");
    EXPECT_EQ(effects.count(RecordingEffects::Kind::Url), 1) << "the handler was asked";
    EXPECT_TRUE(visible(browser)) << "the frame stays for the next try";
}
