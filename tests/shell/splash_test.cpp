// Start-up of the windows and the splash window's layout and hand-over.
#include "about/unit5.h"
#include "catalogue/unit2.h"
#include "design/unit4.h"
#include "platform/bevel_panel.h"
#include "platform/exception.h"
#include "platform/icons.h"
#include "platform/link_label.h"
#include "resources/drawing.h"
#include "shell/application.h"
#include "shell/unit1.h"
#include "shell/web_address.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace krepiks;
using krepiks::test::RecordingEffects;
using krepiks::test::TestCatalogue;

namespace {

// The bound is for a stalled run, not a timing the result depends on.
bool waitFor(const std::function<bool()>& condition, int ms = 60000) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Counts the times a widget is shown.
class ShowCounter : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        shows += event->type() == QEvent::Show;
        return false;
    }
};

struct Forms {
    Forms() { CreateForms(); }
    ~Forms() { DestroyForms(); }
};

} // namespace

TEST(Startup, WindowsAreCreatedInOrderHiddenWithTitleAndIcon) {
    TestCatalogue folder;
    RecordingEffects effects;
    ASSERT_TRUE(QApplication::windowIcon().isNull());
    ASSERT_NE(QApplication::applicationDisplayName(), ApplicationTitle);
    {
        Forms forms;
        ASSERT_NE(Form1, nullptr);
        ASSERT_NE(Form4, nullptr);
        ASSERT_NE(Form5, nullptr);
        ASSERT_NE(Form2, nullptr);
        for (QWidget* w : std::initializer_list<QWidget*>{Form1, Form4, Form5, Form2}) {
            EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
            EXPECT_TRUE(w->isWindow()) << w->objectName().toStdString();
        }
        // The splash window's timer runs from its creation, before the loop shows anything.
        const auto* timer = Form1->findChild<QTimer*>(QStringLiteral("Timer1"));
        ASSERT_NE(timer, nullptr);
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->interval(), 100);
        EXPECT_EQ(Form1->timerTicks(), 0);

        EXPECT_EQ(QApplication::applicationDisplayName(), "Крепикс");
        EXPECT_EQ(QApplication::applicationName(), "Крепикс");
        const QImage shown = QApplication::windowIcon().pixmap(32, 32).toImage();
        const QImage icon1 = LoadIconW(HInstance(), u"ICON1").pixmap(32, 32).toImage();
        ASSERT_FALSE(icon1.isNull());
        EXPECT_EQ(shown.convertToFormat(QImage::Format_ARGB32),
                  icon1.convertToFormat(QImage::Format_ARGB32));
        // Every window without an icon of its own shows the application's.
        EXPECT_EQ(Form4->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
    }
    EXPECT_EQ(Form1, nullptr);
    EXPECT_TRUE(effects.boxes().empty());
}

TEST(Startup, SplashComesFirstSoAFailingDesignWindowLeavesOnlyIt) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    RecordingEffects effects;
    EXPECT_THROW(CreateForms(), EDatabaseError);
    EXPECT_NE(Form1, nullptr) << "created before the design window";
    EXPECT_EQ(Form5, nullptr) << "created after the design window";
    EXPECT_EQ(Form2, nullptr) << "created after the design window";
    DestroyForms();
    EXPECT_EQ(Form1, nullptr);
}

TEST(Splash, LayoutShowsTheDrawingTitleAndFooterLink) {
    TestCatalogue folder;
    RecordingEffects effects;
    Forms forms;
    TForm1& f = *Form1;
    EXPECT_TRUE(f.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(f.size(), QSize(714, 392));
    EXPECT_EQ(f.geometry().center(), QApplication::primaryScreen()->availableGeometry().center());

    EXPECT_EQ(f.Panel1->geometry(), QRect(0, 0, 714, 362));
    EXPECT_EQ(f.Panel3->geometry(), QRect(0, 362, 714, 30));
    EXPECT_EQ(f.ProgramIcon->geometry().translated(f.Panel2->pos()), QRect(8, 8, 698, 346));
    EXPECT_EQ(f.Label6->text(), "Крепикс");
    EXPECT_EQ(f.Label6->pos(), QPoint(474, 312));
    EXPECT_EQ(f.Label1->text(), FooterLinkCaption());
    EXPECT_EQ(f.Label1->pos(), QPoint(40, 2));
    EXPECT_EQ(f.Label1->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(f.Label1->font().underline());
    EXPECT_LE(f.Label1->geometry().bottom(), f.Panel3->height() - 1) << "inside the footer";

    // What is drawn: the picture unscaled from the panel's top-left, the title in white on
    // black in front of it, the link in red.
    const QImage image = f.grab().toImage();
    const QImage& drawing = BoltDrawing();
    const QPoint origin(8, 8);
    const QRect title = f.Label6->geometry().translated(f.Panel2->pos());
    int compared = 0;
    for (int y = 0; y < 346; y += 7)
        for (int x = 0; x < 698; x += 7) {
            if (title.contains(origin + QPoint(x, y)))
                continue;
            ASSERT_EQ(image.pixel(origin + QPoint(x, y)), drawing.pixel(x, y)) << x << "," << y;
            ++compared;
        }
    EXPECT_GT(compared, 4000);
    int white = 0, black = 0;
    for (int y = title.top(); y <= title.bottom(); ++y)
        for (int x = title.left(); x <= title.right(); ++x) {
            const QRgb p = image.pixel(x, y) & 0xFFFFFF;
            white += p == 0xFFFFFF;
            black += p == 0x000000;
        }
    EXPECT_GT(white, 100);
    EXPECT_GT(black, white);
    const QRect link = f.Label1->geometry().translated(f.Panel3->pos());
    int red = 0;
    for (int y = link.top(); y <= link.bottom(); ++y)
        for (int x = link.left(); x <= link.right(); ++x)
            red += (image.pixel(x, y) & 0xFFFFFF) == 0xFF0000;
    EXPECT_GT(red, 200);
}

TEST(Splash, FirstTickShowsTheDesignWindowOnceAndHidesTheSplashForGood) {
    TestCatalogue folder;
    RecordingEffects effects;
    Forms forms;
    ShowCounter counter;
    Form4->installEventFilter(&counter);
    Form1->show();
    ASSERT_TRUE(waitFor([] { return Form1->timerTicks() >= 1; }));
    EXPECT_TRUE(Form4->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_EQ(counter.shows, 1);

    // The user hides the design window: later ticks leave it hidden.
    Form4->hide();
    const int ticks = Form1->timerTicks();
    ASSERT_TRUE(waitFor([&] { return Form1->timerTicks() >= ticks + 3; }));
    EXPECT_FALSE(Form4->isVisible());
    EXPECT_EQ(counter.shows, 1);

    // Anything that shows the splash again is undone by the next tick.
    Form1->show();
    const int shownAt = Form1->timerTicks();
    ASSERT_TRUE(waitFor([&] { return Form1->timerTicks() > shownAt; }));
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_FALSE(Form4->isVisible());
    EXPECT_EQ(counter.shows, 1);
    Form4->removeEventFilter(&counter);
}
