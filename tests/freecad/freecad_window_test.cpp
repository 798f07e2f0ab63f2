// The program's build shown in FreeCAD's own window, on the private X server this test runs
// under: the body appears there, and «Закрыть SolidWorks» ends FreeCAD.
#include "automation/bus/local_client.h"
#include "bolt_steps.h"
#include "bus_fixture.h"
#include "freecad_probe_client.h"
#include "model/solidworks.h"

#include <csignal>
#include <cstdlib>

using namespace automation;
using namespace bustest;

namespace {

class FreeCadWindow : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under tests/support/with_xvfb.sh";
        // FreeCAD's window on that server, whatever platform the rest of the suite uses.
        unsetenv("QT_QPA_PLATFORM");
        cadClsid_ = bus::RegisterLocalServer(krepiks::SolidWorksProgId, KREPIKS_FREECAD);
    }
    void TearDown() override {
        krepiks::ReleaseSolidWorks();
        if (const auto part = freecadtest::Describe())
            ::kill(static_cast<pid_t>(part->pid), SIGKILL);
        BusTest::TearDown();
        UnregisterClassObject(krepiks::SolidWorksProgId);
    }
    CLSID cadClsid_;
};

TEST_F(FreeCadWindow, TheBodyAppearsInFreeCadsWindowOutlivesTheClientAndCloseEndsFreeCad) {
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    const auto part = freecadtest::Describe();
    ASSERT_TRUE(part);
    EXPECT_TRUE(part->gui);
    ASSERT_EQ(part->objects.size(), 7u);
    EXPECT_EQ(part->objects.back().label, "Вырез-Повернуть1");
    EXPECT_TRUE(part->valid);

    // Krepiks ending lets go of its references only: the part stays open in FreeCAD, and a
    // later client attaches to the FreeCAD served there.
    krepiks::ReleaseSolidWorks();
    const auto kept = freecadtest::Describe();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->pid, part->pid);
    DispatchPtr app;
    ASSERT_EQ(GetActiveObject(cadClsid_, nullptr, app.put()), S_OK);
    krepiks::SolidWorksApp = Variant::fromDispatch(app);

    // The part was built, not drawn by the user: FreeCAD quits without asking about it.
    ASSERT_NO_THROW(krepiks::CloseSolidWorks());
    EXPECT_TRUE(WaitFor([&] { return !ProcessRunning(part->pid); }));
}

} // namespace
