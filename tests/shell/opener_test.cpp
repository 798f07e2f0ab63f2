// The web-site link opener on the splash window, driven through the footer labels.
#include "about/unit5.h"
#include "automation/automation.h"
#include "automation/trace.h"
#include "automation/trace_reader.h"
#include "platform/browser/browser.h"
#include "platform/link_label.h"
#include "platform/window_registry.h"
#include "shell/application.h"
#include "shell/unit1.h"
#include "shell/web_address.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace krepiks;
using krepiks::test::RecordingEffects;
using krepiks::test::TestCatalogue;
using Kind = krepiks::test::RecordingEffects::Kind;

namespace {

// Windows created as at start-up, the browser class registered with a factory that counts.
class Opener : public ::testing::Test {
protected:
    void SetUp() override {
        countCreations();
        CreateForms();
    }
    void TearDown() override {
        DestroyForms();
        RegisterBrowserClass();
    }

    void countCreations() {
        automation::RegisterClassObject(
            BrowserProgId,
            [this](automation::IDispatch** out) {
                ++created;
                return CreateBrowserObject(out);
            },
            automation::CLSCTX_LOCAL_SERVER);
    }

    static void click(LinkLabel* label) {
        label->window()->show();
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(10, 5));
    }

    int urls() const { return effects.count(Kind::Url); }

    TestCatalogue folder;
    RecordingEffects effects;
    int created = 0;
};

} // namespace

TEST_F(Opener, FirstClickStartsShowsAndNavigatesWithoutLookingForAWindow) {
    // A frame of some other browser already exists; the first click must not touch it.
    int strayRaised = 0;
    const HWND stray = CreateTopWindow(BrowserFrameClass, u"other", [&] { ++strayRaised; });

    QTemporaryDir dir;
    const QString trace = dir.filePath("calls.jsonl");
    qputenv("KREPIKS_AUTOMATION_TRACE", trace.toLocal8Bit());
    automation::trace::Reload();
    click(Form1->Label1);
    qunsetenv("KREPIKS_AUTOMATION_TRACE");
    automation::trace::Reload();

    EXPECT_EQ(created, 1);
    EXPECT_TRUE(Form1->browserHeld());
    ASSERT_EQ(urls(), 1);
    EXPECT_EQ(effects.events.back().url, QUrl(WebAddress));
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(strayRaised, 0);
    EXPECT_EQ(GetForegroundWindow(), nullptr);

    // Exactly: Visible put true, then Navigate with the one address argument, on one object.
    const auto calls = automation::trace::ReadTrace(trace.toStdString());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].member + "/" + automation::CallKindName(calls[0].kind), "Visible/put");
    EXPECT_EQ(calls[1].member + "/" + automation::CallKindName(calls[1].kind), "Navigate/method");
    ASSERT_EQ(calls[0].args.size(), 1u);
    ASSERT_EQ(calls[1].args.size(), 1u);
    EXPECT_TRUE(calls[0].args[0].type == "bool" && calls[0].args[0].boolean());
    EXPECT_EQ(calls[1].args[0].type, "str");
    EXPECT_EQ(QString::fromStdString(calls[1].args[0].text()), WebAddress);
    EXPECT_EQ(calls[0].object, calls[1].object);
    DestroyTopWindow(stray);
}

TEST_F(Opener, LaterClicksFromAnyWindowReuseTheBrowserAndRaiseItsFrame) {
    click(Form1->Label1);
    ASSERT_EQ(created, 1);
    const HWND frame = FindWindowW(BrowserFrameClass, nullptr);
    ASSERT_NE(frame, nullptr);

    click(Form5->Label1);
    EXPECT_EQ(created, 1) << "no second browser";
    EXPECT_EQ(urls(), 2);
    EXPECT_EQ(effects.events.back().url, QUrl(WebAddress));
    EXPECT_EQ(GetForegroundWindow(), frame);

    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(Opener, TheFrontmostFrameIsRaisedWhileTheHeldBrowserNavigates) {
    click(Form1->Label1);
    const HWND ours = FindWindowW(BrowserFrameClass, nullptr);
    int strayRaised = 0;
    const HWND stray = CreateTopWindow(BrowserFrameClass, u"other", [&] { ++strayRaised; });

    click(Form5->Label1);
    EXPECT_EQ(urls(), 2) << "the held browser navigates";
    EXPECT_EQ(strayRaised, 1);
    EXPECT_EQ(GetForegroundWindow(), stray);
    EXPECT_NE(GetForegroundWindow(), ours);
    DestroyTopWindow(stray);
}

TEST_F(Opener, WithNoFrameALaterClickDoesNothing) {
    click(Form1->Label1);
    ASSERT_EQ(urls(), 1);
    // The user closed the browser window.
    DestroyTopWindow(FindWindowW(BrowserFrameClass, nullptr));

    click(Form1->Label1);
    click(Form5->Label1);
    EXPECT_EQ(urls(), 1);
    EXPECT_EQ(created, 1);
    EXPECT_TRUE(Form1->browserHeld());
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(Opener, FailedCreationIsReportedAndTheNextClickTriesAgain) {
    automation::UnregisterClassObject(BrowserProgId);
    click(Form1->Label1);
    ASSERT_EQ(effects.boxes().size(), 1u);
    automation::CLSID clsid;
    const automation::HRESULT notRegistered = automation::CLSIDFromProgID(BrowserProgId, &clsid);
    ASSERT_TRUE(automation::FAILED(notRegistered));
    EXPECT_EQ(effects.boxes()[0].caption, "Крепикс");
    EXPECT_EQ(effects.boxes()[0].icon, BoxIcon::Error);
    EXPECT_EQ(effects.boxes()[0].text,
              ErrorReportText(QString::fromStdString(automation::OleErrorText(notRegistered))));
    EXPECT_FALSE(Form1->browserHeld());

    // Registered, but the server does not start.
    automation::RegisterClassObject(
        BrowserProgId,
        [this](automation::IDispatch**) {
            ++created;
            return automation::CO_E_SERVER_EXEC_FAILURE;
        },
        automation::CLSCTX_LOCAL_SERVER);
    click(Form5->Label1);
    ASSERT_EQ(effects.boxes().size(), 2u);
    EXPECT_EQ(effects.boxes()[1].text,
              ErrorReportText(QString::fromStdString(
                  automation::OleErrorText(automation::CO_E_SERVER_EXEC_FAILURE))));
    EXPECT_FALSE(Form1->browserHeld());
    EXPECT_EQ(urls(), 0);

    countCreations();
    click(Form1->Label1);
    EXPECT_EQ(created, 2);
    EXPECT_TRUE(Form1->browserHeld());
    EXPECT_EQ(urls(), 1);
    EXPECT_EQ(effects.boxes().size(), 2u);
}

TEST_F(Opener, ANavigationNoHandlerTakesIsReportedAndRetriedWithTheSameBrowser) {
    effects.urlHandlerWorks = false;
    click(Form1->Label1);
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_EQ(effects.boxes()[0].caption, "Крепикс");
    EXPECT_EQ(effects.boxes()[0].text,
              "No application is associated with the specified file for this operation.");
    EXPECT_TRUE(Form1->browserHeld()) << "the browser was created; only the call failed";

    effects.urlHandlerWorks = true;
    click(Form1->Label1);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(urls(), 2);
    EXPECT_EQ(effects.boxes().size(), 1u);
}

TEST_F(Opener, TheBrowserIsReleasedWhenTheWindowsAreDestroyed) {
    click(Form1->Label1);
    ASSERT_NE(FindWindowW(BrowserFrameClass, nullptr), nullptr);
    DestroyForms();
    EXPECT_EQ(FindWindowW(BrowserFrameClass, nullptr), nullptr);
    CreateForms(); // for TearDown
}
