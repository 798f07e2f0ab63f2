// The program's own build, BuildModel, against the registered CAD stand-in.
#include "bolt_steps.h"
#include "cad/cad_server.h"
#include "model/solidworks.h"
#include "platform/exception.h"

#include <gtest/gtest.h>

using namespace krepiks::cad;
using namespace krepiks::cad::test;

namespace {

class ProgramBuild : public ::testing::Test {
protected:
    void SetUp() override { RegisterCadServer(); }
    void TearDown() override {
        krepiks::ReleaseSolidWorks();
        if (auto running = RunningCadSession())
            running->quit();
        UnregisterCadServer();
    }
};

} // namespace

TEST_F(ProgramBuild, TheWorkedExampleAndEverySampleVariantBuildWithTheirChamfers) {
    auto variants = SampleVariants();
    variants.insert(variants.begin(), WorkedExample());
    for (const BoltDims& d : variants) {
        SCOPED_TRACE(d.name);
        krepiks::TBolt bolt = BoltOf(d);
        ASSERT_NO_THROW(krepiks::BuildModel(bolt));
        const auto session = RunningCadSession();
        ASSERT_TRUE(session);
        const auto doc = session->activeDocument();
        ASSERT_TRUE(doc);
        ExpectValidSolid(doc->body());
        EXPECT_LT(Relative(doc->volume(), BoltVolume(d)), 1e-8);
        EXPECT_EQ(FacesAtX(doc->body(), -d.K).size(), 1u) << "the chamfered top";
        EXPECT_EQ(doc->features().size(), 7u);
    }
    // One application, a document per build, as with a running CAD program.
    EXPECT_EQ(RunningCadSession()->documents().size(), variants.size());
}

TEST_F(ProgramBuild, CloseQuitsAndASecondCloseReportsTheVanishedServer) {
    krepiks::TBolt bolt = BoltOf(WorkedExample());
    krepiks::BuildModel(bolt);
    const auto session = RunningCadSession();
    ASSERT_TRUE(session);
    krepiks::CloseSolidWorks();
    EXPECT_FALSE(session->alive());
    try {
        krepiks::CloseSolidWorks();
        FAIL() << "a second close reached a server that has quit";
    } catch (const krepiks::EOleSysError& error) {
        EXPECT_EQ(error.errorCode(), automation::RPC_E_DISCONNECTED);
        EXPECT_STREQ(error.what(), "The object invoked has disconnected from its clients");
    }
    // Building again starts a new application.
    krepiks::BuildModel(bolt);
    ASSERT_TRUE(RunningCadSession());
    EXPECT_NE(RunningCadSession(), session);
    EXPECT_EQ(RunningCadSession()->documents().size(), 1u);
}

TEST_F(ProgramBuild, AMissingTemplateStopsTheBuildWithAReport) {
    krepiks::TBolt bolt = BoltOf(WorkedExample());
    bolt.TemplatePath = "/nonexistent/part.kprt";
    EXPECT_THROW(krepiks::BuildModel(bolt), krepiks::EOleError);
    EXPECT_TRUE(RunningCadSession()->documents().empty());
}
