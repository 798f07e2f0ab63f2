// The program's own build, BuildModel, against the registered CAD stand-in.
#include "bolt_steps.h"
#include "model/solidworks.h"
#include "platform/automation/trace.h"
#include "platform/cad/cad_server.h"
#include "platform/cad/replay.h"
#include "platform/exception.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

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
    static krepiks::TBolt BoltOf(const BoltDims& d) {
        krepiks::TBolt bolt;
        bolt.isp = d.name;
        bolt.d0 = d.d0, bolt.d1 = d.d1, bolt.d2 = d.d2, bolt.K = d.K, bolt.L = d.L;
        bolt.L2 = d.L2, bolt.L3 = d.L3, bolt.b = d.b, bolt.c = d.c, bolt.e = d.e;
        bolt.a = 30, bolt.S = d.e * 0.9, bolt.D = bolt.S * 0.95, bolt.R = 0.6;
        bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
        return bolt;
    }
};

} // namespace

TEST_F(ProgramBuild, EverySampleVariantBuildsToAValidSolidWithItsChamfer) {
    const auto variants = SampleVariants();
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

TEST_F(ProgramBuild, TheTraceOfABuildReplaysToTheSameVolume) {
    const std::string trace = (std::filesystem::temp_directory_path() /
                               ("krepiks-cad-build-" + std::to_string(::getpid()) + ".jsonl"))
                                  .string();
    std::filesystem::remove(trace);
    setenv("KREPIKS_AUTOMATION_TRACE", trace.c_str(), 1);
    automation::trace::Reload();
    krepiks::TBolt bolt = BoltOf(SampleVariants().back());
    krepiks::BuildModel(bolt);
    unsetenv("KREPIKS_AUTOMATION_TRACE");
    automation::trace::Reload();
    const double built = RunningCadSession()->activeDocument()->volume();

    const ReplayResult replay = ReplayTraceFile(trace);
    std::filesystem::remove(trace);
    ASSERT_TRUE(replay.ok) << replay.message;
    EXPECT_EQ(replay.calls, 350u); // Visible, NewDocument and the script's 348
    ASSERT_TRUE(replay.lastDocument());
    EXPECT_DOUBLE_EQ(replay.lastDocument()->volume(), built);
}
