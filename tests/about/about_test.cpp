// The About window: layout, keyboard, closing, resizing and its footer link.
#include "about/unit5.h"
#include "platform/bevel_panel.h"
#include "platform/browser/browser.h"
#include "platform/link_label.h"
#include "resources/drawing.h"
#include "shell/application.h"
#include "shell/unit1.h"
#include "shell/web_address.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

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

class About : public ::testing::Test {
protected:
    void SetUp() override { form = std::make_unique<TForm5>(); }

    // Opens the window modally without blocking, as the design window's menu would, and
    // waits until it has the focus.
    void openModal() {
        form->open();
        ASSERT_TRUE(waitFor([&] { return form->isVisible() && QApplication::focusWidget(); }));
    }

    // The client rectangle of a child in the window's coordinates.
    QRect inWindow(const QWidget* w) const {
        return QRect(w->mapTo(form.get(), QPoint(0, 0)), w->size());
    }

    RecordingEffects effects;
    std::unique_ptr<TForm5> form;
};

} // namespace

TEST_F(About, FocusIsOnTheOnlyControlSoEnterAndSpaceCloseItButEscDoesNot) {
    openModal();
    EXPECT_EQ(QApplication::focusWidget(), form->Button2);
    for (QWidget* child : form->findChildren<QWidget*>()) {
        if (child != form->Button2) {
            EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->objectName().toStdString();
        }
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    ASSERT_TRUE(form->isVisible()) << "Esc must leave the window open";

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return !form->isVisible(); }));
    EXPECT_EQ(form->result(), QDialog::Rejected);

    // Reopened, it is the same: the focus on the button, and Space closes it.
    openModal();
    EXPECT_EQ(QApplication::focusWidget(), form->Button2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return !form->isVisible(); }));
    EXPECT_EQ(form->result(), QDialog::Rejected);

    openModal();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    EXPECT_TRUE(waitFor([&] { return !form->isVisible(); }));
}

TEST_F(About, ExecEndsWithCancelWhenTheButtonIsClicked) {
    bool clicked = false;
    QTimer::singleShot(50, [&] {
        clicked = form->isVisible();
        QTest::mouseClick(form->Button2, Qt::LeftButton);
    });
    // Should the click not close it, end the wait rather than block the run.
    QTimer::singleShot(3000, [&] { form->done(77); });
    EXPECT_EQ(form->exec(), QDialog::Rejected);
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(About, ResizingStretchesThePanelsAndKeepsButtonAndFooterAtTheBottom) {
    EXPECT_EQ(form->windowTitle(), "О программе");
    EXPECT_EQ(form->size(), QSize(713, 420));
    EXPECT_EQ(form->Button2->text(), "Закрыть");
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get(), 60000));
    // The design size last: the layout must come back to it exactly.
    for (const QSize size : {QSize(900, 600), QSize(500, 300), QSize(713, 420)}) {
        form->resize(size);
        ASSERT_TRUE(waitFor([&] { return form->size() == size; }));
        const int w = size.width(), h = size.height();
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        ASSERT_EQ(form->size(), size);
        EXPECT_EQ(inWindow(form->Panel3), QRect(0, h - 40, w, 40));
        EXPECT_EQ(inWindow(form->Button2), QRect(0, h - 65, w, 25));
        EXPECT_EQ(inWindow(form->Panel1), QRect(0, 0, w, h - 65));
        EXPECT_EQ(form->Panel2->geometry(), QRect(4, 4, w - 8, h - 73));
        EXPECT_EQ(form->ProgramIcon->geometry(), QRect(4, 4, w - 16, h - 81));
        EXPECT_EQ(form->Label6->pos(), QPoint(466, 296));
        EXPECT_EQ(form->Label1->pos(), QPoint(80, 5));

        // The picture stays at its natural size in the top-left corner.
        const QImage shown = form->ProgramIcon->grab().toImage();
        const QImage& drawing = BoltDrawing();
        const QRect visible = QRect(QPoint(0, 0), shown.size()).intersected(drawing.rect());
        const QRect title = form->Label6->geometry().translated(-form->ProgramIcon->pos());
        for (int y = 0; y < visible.height(); y += 11)
            for (int x = 0; x < visible.width(); x += 11)
                if (!title.contains(x, y)) {
                    ASSERT_EQ(shown.pixel(x, y), drawing.pixel(x, y)) << x << "," << y;
                }
    }
}

TEST(AboutLink, TheFooterLinkOpensTheAddressThroughTheSplashWindow) {
    TestCatalogue folder;
    RecordingEffects effects;
    RegisterBrowserClass();
    CreateForms();
    Form5->show();
    QTest::mouseClick(Form5->Label1, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(Form1->browserHeld());
    ASSERT_EQ(effects.count(RecordingEffects::Kind::Url), 1);
    EXPECT_EQ(effects.events.back().url, QUrl(WebAddress));
    // A press that is released elsewhere is no click.
    QTest::mousePress(Form5->Label1, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(Form5->Label1, Qt::LeftButton, {}, QPoint(-20, 5));
    EXPECT_EQ(effects.count(RecordingEffects::Kind::Url), 1);
    DestroyForms();
}
