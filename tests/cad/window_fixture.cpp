#include "window_fixture.h"

#include "model/solidworks.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace krepiks::cad::test {

CadWindow* FindWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<CadWindow*>(w); window && window->isVisible())
            return window;
    return nullptr;
}

// Until the window (if one shows) has caught up with every change.
void Settle() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    const QPointer<CadWindow> window = FindWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window || !window->refreshPending(); }, 60000));
    QCoreApplication::processEvents();
}

QStringList Children(QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i)
        names << item->child(i)->text(0);
    return names;
}

void WindowFixture::SetUp() {
    InstallCadWindows();
    RegisterCadServer();
    Start();
}

void WindowFixture::TearDown() {
    krepiks::ReleaseSolidWorks();
    if (session)
        session->quit();
    Settle();
    UnregisterCadServer();
    SetSessionViewFactory(nullptr);
}

void WindowFixture::Start() {
    automation::CLSID clsid;
    automation::CLSIDFromProgID(CadProgId, &clsid);
    automation::CoCreateInstance(clsid, nullptr, 5, app.put());
    session = RunningCadSession();
}

CadWindow* WindowFixture::Build(const BoltDims& d) {
    krepiks::TBolt bolt = BoltOf(d);
    krepiks::BuildModel(bolt);
    Settle();
    return FindWindow();
}

} // namespace krepiks::cad::test
