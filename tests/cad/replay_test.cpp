// A traced build replays to the same part, in process and through krepiks-cad.
#include "automation/dispatch_object.h"
#include "automation/trace.h"
#include "bolt_steps.h"
#include "cad/replay.h"
#include "model/solidworks.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <STEPControl_Reader.hxx>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace krepiks::cad;
using namespace krepiks::cad::test;
using automation::DispatchPtr;
using automation::Variant;
namespace fs = std::filesystem;

namespace {

// Another program's object in the same trace, as the footer link's browser would be.
class Browser : public automation::DispatchObject {
public:
    Browser() {
        addProperty(
            u"Visible", [](const automation::DispatchArgs&) { return Variant::fromBool(true); },
            [](const automation::DispatchArgs&) {});
        addMethod(u"Navigate", 1, 5, [](const automation::DispatchArgs&) {});
    }
};

class Replay : public ::testing::Test {
protected:
    void SetUp() override {
        dir =
            fs::temp_directory_path() /
            ("krepiks_replay_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        trace = (dir / "build.trace").string();
    }
    void TearDown() override {
        StopTracing();
        fs::remove_all(dir);
    }
    void StartTracing() {
        setenv("KREPIKS_AUTOMATION_TRACE", trace.c_str(), 1);
        automation::trace::Reload();
    }
    void StopTracing() {
        unsetenv("KREPIKS_AUTOMATION_TRACE");
        automation::trace::Reload();
    }
    // Traces a browser call and one build of the program with its close; returns the
    // built part's volume.
    double TraceOneBuild() {
        RegisterCadServer();
        StartTracing();
        DispatchPtr browser(new Browser);
        Call(browser.get(), u"Visible", {Variant::fromBool(true)}, automation::CallKind::Put);
        krepiks::TBolt bolt = BoltOf(WorkedExample());
        krepiks::BuildModel(bolt);
        const auto session = RunningCadSession();
        Call(browser.get(), u"Navigate", {Variant::fromBStr(automation::BStr(u"http://x"))});
        krepiks::CloseSolidWorks();
        krepiks::ReleaseSolidWorks();
        StopTracing();
        UnregisterCadServer();
        return session->documents().at(0)->volume();
    }
    static std::string Run(const std::string& arguments, int* status) {
        const std::string command = std::string(KREPIKS_CAD_TOOL) + " " + arguments + " 2>&1";
        std::string output;
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[512];
        while (pipe && fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        const int raw = pipe ? pclose(pipe) : -1;
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return output;
    }

    fs::path dir;
    std::string trace;
};

double StepVolume(const std::string& path) {
    STEPControl_Reader reader;
    if (reader.ReadFile(path.c_str()) != IFSelect_RetDone)
        return -1;
    reader.TransferRoots();
    GProp_GProps props;
    BRepGProp::VolumeProperties(reader.OneShape(), props);
    return props.Mass();
}

} // namespace

TEST_F(Replay, TheTraceOfOneBuildReplaysToTheSameVolume) {
    const double built = TraceOneBuild();
    const ReplayResult replay = ReplayTraceFile(trace);
    ASSERT_TRUE(replay.ok) << replay.message;
    EXPECT_EQ(replay.calls, 2u + 348u + 2u); // Visible, NewDocument, the script; Application, Quit
    EXPECT_EQ(replay.skipped, 2u);           // the browser's two calls
    const auto doc = replay.lastDocument();
    ASSERT_TRUE(doc);
    EXPECT_DOUBLE_EQ(doc->volume(), built);
    ASSERT_EQ(replay.sessions.size(), 1u);
    EXPECT_FALSE(replay.sessions[0]->alive()) << "the trace ends with Quit";
}

TEST_F(Replay, KrepiksCadExportsTheReplayedPartAsStep) {
    const double built = TraceOneBuild();
    const std::string step = (dir / "bolt.step").string();
    int status = -1;
    const std::string output = Run("--replay '" + trace + "' --export '" + step + "'", &status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("352 calls"), std::string::npos) << output;
    EXPECT_NEAR(StepVolume(step), built, 1e-6 * built);
}

TEST_F(Replay, KrepiksCadFailsClearlyOnBadTraces) {
    int status = -1;
    std::string output =
        Run("--replay '" + (dir / "none.trace").string() + "' --export x.step", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("cannot replay"), std::string::npos) << output;

    std::ofstream(dir / "garbage.trace") << "{\"object\": 1, \"member\": \n";
    output = Run("--replay '" + (dir / "garbage.trace").string() + "' --export x.step", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("garbage.trace:1:"), std::string::npos) << output;

    // A call that succeeded in the trace but cannot succeed again.
    TraceOneBuild();
    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();
    std::string lines = text.str();
    const std::string polygon = "\"member\": \"CreatePolygon\"";
    const auto at = lines.find(polygon);
    ASSERT_NE(at, std::string::npos);
    lines.replace(at, polygon.size(), "\"member\": \"CreatePolygon2\"");
    std::ofstream(dir / "diverging.trace") << lines;
    output = Run("--replay '" + (dir / "diverging.trace").string() + "' --export '" +
                     (dir / "d.step").string() + "'",
                 &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("CreatePolygon2"), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(dir / "d.step"));

    // A trace that opens no document has no part to export.
    std::ofstream(dir / "empty.trace") << "";
    output = Run("--replay '" + (dir / "empty.trace").string() + "' --export '" +
                     (dir / "e.step").string() + "'",
                 &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("no part"), std::string::npos) << output;

    output = Run("--replay only", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(output.find("usage"), std::string::npos);
}
