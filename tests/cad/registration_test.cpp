// Linked like the program: the server answers "SldWorks.Application" with no call to set
// it up, and a visible application gets its window.
#include "automation/automation.h"
#include "cad/cad_server.h"
#include "cad/cad_window.h"
#include "design/unit4.h"
#include "model/solidworks.h"
#include "shell/application.h"
#include "support/hand_over.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// The visible CAD window once it has caught up with the build.
krepiks::cad::CadWindow* ShownCadWindow() {
    QCoreApplication::processEvents();
    krepiks::cad::CadWindow* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = qobject_cast<krepiks::cad::CadWindow*>(w); c && c->isVisible())
            window = c;
    if (window && !QTest::qWaitFor([&] { return !window->refreshPending(); }))
        return nullptr;
    return window;
}

} // namespace

TEST(Registration, TheProgramsBuildReachesTheStandInAndItsWindow) {
    automation::CLSID clsid;
    ASSERT_EQ(automation::CLSIDFromProgID(u"SldWorks.Application", &clsid), automation::S_OK);
    krepiks::TBolt bolt;
    bolt.d0 = 10, bolt.d1 = 12, bolt.d2 = 8, bolt.K = 7.5, bolt.L = 60, bolt.L2 = 30;
    bolt.L3 = 6, bolt.b = 50, bolt.c = 45, bolt.e = 20;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    krepiks::cad::CadWindow* window = ShownCadWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->documentTree()->topLevelItemCount(), 1);
    EXPECT_EQ(window->documentTree()->topLevelItem(0)->childCount(), 3 + 7);
    const auto session = krepiks::cad::RunningCadSession();
    ASSERT_TRUE(session);
    EXPECT_FALSE(session->activeDocument()->body().IsNull());
    krepiks::CloseSolidWorks();
    EXPECT_FALSE(session->alive());
    krepiks::ReleaseSolidWorks();
}

// The whole program: choose each sample variant in the design window and press the build
// button; the CAD window shows every finished bolt, and the close button ends it.
TEST(Registration, PressingBuildOnEverySampleVariantShowsTheFinishedBolt) {
    krepiks::test::RecordingEffects effects;
    krepiks::test::TestCatalogue catalogue(krepiks::test::TestCatalogue::Contents::Sample,
                                           KREPIKS_PART_TEMPLATE);
    krepiks::CreateForms();
    ASSERT_TRUE(krepiks::test::HandOverToDesignWindow());
    QComboBox* list = krepiks::Form4->ComboBox1;
    ASSERT_EQ(list->count(), 12);
    for (int i = 0; i < list->count(); ++i) {
        SCOPED_TRACE(list->itemText(i).toStdString());
        list->showPopup();
        QAbstractItemView* view = list->view();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window(), 60000));
        const QModelIndex entry = view->model()->index(i, 0);
        view->scrollTo(entry);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(entry).center());
        QTRY_VERIFY_WITH_TIMEOUT(!view->window()->isVisible(), 60000);
        ASSERT_TRUE(krepiks::Form4->Button2->isEnabled());
        QTest::mouseClick(krepiks::Form4->Button2, Qt::LeftButton);
        EXPECT_TRUE(effects.boxes().empty()) << effects.boxes()[0].text.toStdString();
        EXPECT_TRUE(krepiks::Form4->Button3->isEnabled());
        const auto doc = krepiks::cad::RunningCadSession()->activeDocument();
        ASSERT_EQ(doc->features().size(), 7u);
        EXPECT_EQ(doc->features().back().name, "Вырез-Повернуть1");
    }
    krepiks::cad::CadWindow* window = ShownCadWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->documentTree()->topLevelItemCount(), 12);
    EXPECT_EQ(window->windowTitle(), "Деталь12 — Крепикс CAD");

    const QPointer<krepiks::cad::CadWindow> watched = window;
    QTest::mouseClick(krepiks::Form4->Button3, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(watched) << "Close quits the CAD application";
    EXPECT_FALSE(krepiks::cad::RunningCadSession());
    krepiks::DestroyForms();
}
