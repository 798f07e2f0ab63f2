// Linked like the program: the server answers "SldWorks.Application" with no call to set
// it up, and a visible application gets its window.
#include "model/solidworks.h"
#include "platform/automation/automation.h"
#include "platform/cad/cad_server.h"
#include "platform/cad/cad_window.h"

#include <QApplication>
#include <QTreeWidget>
#include <gtest/gtest.h>

TEST(Registration, TheProgramsBuildReachesTheStandInAndItsWindow) {
    automation::CLSID clsid;
    ASSERT_EQ(automation::CLSIDFromProgID(u"SldWorks.Application", &clsid), automation::S_OK);
    krepiks::TBolt bolt;
    bolt.d0 = 10, bolt.d1 = 12, bolt.d2 = 8, bolt.K = 7.5, bolt.L = 60, bolt.L2 = 30;
    bolt.L3 = 6, bolt.b = 50, bolt.c = 45, bolt.e = 20;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    QCoreApplication::processEvents();
    krepiks::cad::CadWindow* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = qobject_cast<krepiks::cad::CadWindow*>(w); c && c->isVisible())
            window = c;
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
