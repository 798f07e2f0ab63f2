#pragma once
// The CAD application as the program starts it, with its window: a build through the bolt
// model, then the window as a person finds it on the screen.
#include "bolt_steps.h"
#include "cad/cad_window.h"
#include "support/recording_effects.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

class QTreeWidgetItem;

namespace krepiks::cad::test {

// The visible CAD window, if any.
CadWindow* FindWindow();
// Lets posted events run, the window's refresh and deferred deletions among them.
void Settle();
// The texts of an item's children in the feature tree.
QStringList Children(QTreeWidgetItem* item);

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the application as the program does, or joins the one that runs.
    void Start();
    // The program's build; the window then catches up.
    CadWindow* Build(const BoltDims& d = WorkedExample());

    krepiks::test::RecordingEffects effects;
    std::shared_ptr<CadSession> session;
    automation::DispatchPtr app;
};

} // namespace krepiks::cad::test
