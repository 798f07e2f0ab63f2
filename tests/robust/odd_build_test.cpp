// A build of a variant holding a value no geometry can have: an automation error from the
// CAD stand-in, never a crash or a kernel that does not come back.
#include "cad/cad_server.h"
#include "model/solidworks.h"
#include "platform/exception.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace krepiks;

namespace {

class OddBuild : public ::testing::Test {
protected:
    void SetUp() override { cad::RegisterCadServer(); }
    void TearDown() override {
        ReleaseSolidWorks();
        if (auto running = cad::RunningCadSession())
            running->quit();
        cad::UnregisterCadServer();
    }
};

// The M8x50 sample variant.
TBolt Sample() {
    TBolt bolt{};
    bolt.isp = "M8x50";
    bolt.d0 = 6.9, bolt.d1 = 8, bolt.d2 = 5.6, bolt.D = 12.35, bolt.R = 0.4, bolt.K = 5.3;
    bolt.L = 50, bolt.L2 = 25, bolt.L3 = 5, bolt.a = 30, bolt.b = 45, bolt.c = 45;
    bolt.S = 13, bolt.e = 14.38;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    return bolt;
}

} // namespace

TEST_F(OddBuild, ANonFiniteDimensionEndsInAnAutomationError) {
    TBolt good = Sample();
    ASSERT_NO_THROW(BuildModel(good)) << "the sample itself builds";
    // Every dimension the geometry is made of (S and a shape nothing the build sends).
    const struct {
        const char* name;
        double TBolt::*field;
    } fields[] = {{"d0", &TBolt::d0}, {"d1", &TBolt::d1}, {"d2", &TBolt::d2}, {"K", &TBolt::K},
                  {"L", &TBolt::L},   {"L2", &TBolt::L2}, {"L3", &TBolt::L3}, {"b", &TBolt::b},
                  {"c", &TBolt::c},   {"e", &TBolt::e}};
    for (const auto& f : fields) {
        for (const double odd : {double(NAN), HUGE_VAL, -HUGE_VAL}) {
            TBolt bolt = Sample();
            bolt.*f.field = odd;
            SCOPED_TRACE(testing::Message() << f.name << " = " << odd);
            try {
                BuildModel(bolt);
                ADD_FAILURE() << "a build with a non-finite dimension succeeded";
            } catch (const EOleSysError& error) {
                EXPECT_EQ(error.errorCode(), automation::DISP_E_OVERFLOW);
                EXPECT_STREQ(error.what(), "Out of present range");
            } catch (const std::exception& error) {
                ADD_FAILURE() << "not the range error: " << error.what();
            }
        }
    }
    // The stand-in is as usable as before.
    TBolt again = Sample();
    EXPECT_NO_THROW(BuildModel(again));
}
