// The program's own build against krepiks-freecad and a real, headless FreeCAD, checked
// against the stand-in's part: the same features under the same labels, valid, and the
// same volume.
#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"
#include "automation/trace.h"
#include "bolt_steps.h"
#include "bus_fixture.h"
#include "cad/cad_server.h"
#include "freecad_probe_client.h"
#include "model/build_script.h"
#include "model/ole_call.h"
#include "model/solidworks.h"
#include "platform/exception.h"
#include "run_program.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace automation;
using namespace bustest;
using freecadtest::Describe;
using krepiks::cad::test::BoltDims;

namespace {

struct StandInPart {
    std::vector<std::string> features;
    double volume = 0;
};

// The same build against the stand-in, in this process.
StandInPart BuildInStandIn(const BoltDims& d) {
    krepiks::cad::RegisterCadServer();
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(d);
    krepiks::BuildModel(bolt);
    krepiks::ReleaseSolidWorks();
    const auto session = krepiks::cad::RunningCadSession();
    StandInPart part;
    const auto doc = session->activeDocument();
    for (const auto& f : doc->features())
        part.features.push_back(f.name);
    part.volume = doc->volume();
    session->quit();
    krepiks::cad::UnregisterCadServer();
    return part;
}

class FreeCadBuild : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped())
            return;
        // Headless: the parts are checked in freecadcmd, whatever display the run has.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        RegisterFreeCad();
    }
    // The stand-in's own registration, in this process, replaces this one while it lasts.
    void RegisterFreeCad() {
        cadClsid_ = bus::RegisterLocalServer(krepiks::SolidWorksProgId, KREPIKS_FREECAD);
    }
    void TearDown() override {
        // Quit ends krepiks-freecad, and its headless FreeCAD with it.
        try {
            krepiks::CloseSolidWorks();
        } catch (const std::exception&) {
        }
        krepiks::ReleaseSolidWorks();
        EXPECT_TRUE(WaitFor([] {
            return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
                bus::BusNameForProgId(krepiks::SolidWorksProgId));
        }));
        BusTest::TearDown();
        UnregisterClassObject(krepiks::SolidWorksProgId);
        unsetenv("KREPIKS_FREECAD_BIN");
    }
    CLSID cadClsid_;
};

TEST_F(FreeCadBuild, TheWorkedExampleAndEverySampleVariantMatchTheStandIn) {
    std::vector<BoltDims> bolts{krepiks::cad::test::WorkedExample()};
    for (const BoltDims& d : krepiks::cad::test::SampleVariants())
        bolts.push_back(d);
    ASSERT_EQ(bolts.size(), 13u);
    std::vector<StandInPart> expected;
    for (const BoltDims& d : bolts)
        expected.push_back(BuildInStandIn(d));
    RegisterFreeCad();

    const std::vector<std::string> types{"Sketcher::SketchObject", "PartDesign::Revolution",
                                         "Sketcher::SketchObject", "PartDesign::Pad",
                                         "PartDesign::Line",       "Sketcher::SketchObject",
                                         "PartDesign::Groove"};
    long freecad = 0;
    for (size_t i = 0; i < bolts.size(); ++i) {
        SCOPED_TRACE(bolts[i].name);
        krepiks::TBolt bolt = krepiks::cad::test::BoltOf(bolts[i]);
        ASSERT_NO_THROW(krepiks::BuildModel(bolt));
        const auto part = Describe();
        ASSERT_TRUE(part);
        // Every build after the first finds FreeCAD running.
        if (i == 0)
            freecad = part->pid;
        EXPECT_EQ(part->pid, freecad);
        ASSERT_EQ(part->objects.size(), types.size());
        for (size_t k = 0; k < types.size(); ++k) {
            EXPECT_EQ(part->objects[k].label, expected[i].features[k]);
            EXPECT_EQ(part->objects[k].type, types[k]) << part->objects[k].label;
            EXPECT_TRUE(part->objects[k].valid) << part->objects[k].label;
        }
        EXPECT_TRUE(part->valid);
        EXPECT_NEAR(part->volume, expected[i].volume, 1e-6 * expected[i].volume);
        // FreeCAD gets the whole build before it recomputes, once, when the build waits.
        EXPECT_EQ(part->recomputes, 1);
    }
    EXPECT_EQ(HelperPids().size(), 0u); // krepiks-freecad writes no pid file
}

// The program's build with one more head padded from a hexagon far off on the top plane:
// the stand-in keeps the two solids, FreeCAD makes a body of one solid only. Nothing waits on
// FreeCAD while the calls go out, so FreeCAD's failure comes where the build next waits: at
// the end, or where it reads a value. What the build says then; "built" when it says nothing.
std::string BuildWithAHeadApart(bool readAfterIt, bool* readReturned) {
    using namespace krepiks;
    TBolt bolt = cad::test::BoltOf(cad::test::WorkedExample());
    DeriveProfile(bolt);
    try {
        OleBatch batch;
        const OleVariant app(SolidWorksApp);
        const OleVariant part =
            app.call(u"NewDocument", {Str(u"" KREPIKS_PART_TEMPLATE), Int(0), Int(0), Int(0)});
        OleVariant view = part.get(u"ActiveView");
        RunBuildScript(part, view, bolt);
        IDispatch* callout = nullptr;
        part.get(u"Extension")
            .send(u"SelectByID2", {Str(u"Сверху"), Str(u"PLANE"), Int(0), Int(0), Int(0),
                                   Bool(false), Int(0), RefDisp(callout), Int(0)});
        part.get(u"SketchManager").send(u"InsertSketch", {Bool(true)});
        part.get(u"SketchManager")
            .send(u"CreatePolygon",
                  {Dbl(0.2), Dbl(0.2), Int(0), Dbl(0.21), Dbl(0.2), Int(0), Int(6), Bool(true)});
        part.get(u"SketchManager").send(u"InsertSketch", {Bool(true)});
        part.get(u"Extension")
            .send(u"SelectByID2", {Str(u"Эскиз4"), Str(u"SKETCH"), Int(0), Int(0), Int(0),
                                   Bool(false), Int(0), RefDisp(callout), Int(0)});
        part.get(u"FeatureManager")
            .send(u"FeatureExtrusion",
                  {Bool(true),  Bool(false), Bool(false), Int(0),      Int(0),
                   Dbl(0.005),  Dbl(0.01),   Bool(false), Bool(false), Bool(false),
                   Bool(false), Dbl(0),      Dbl(0),      Bool(false), Bool(false),
                   Bool(false), Bool(false), Bool(true),  Bool(true),  Bool(true)});
        part.send(u"ClearSelection2", {Bool(true)});
        if (readAfterIt) {
            part.get(u"SelectionManager").holdsObject();
            *readReturned = true;
        }
        part.send(u"ViewZoomtofit2");
        batch.finish();
    } catch (const EOleException& error) {
        return error.what();
    }
    return "built";
}

TEST_F(FreeCadBuild, AFeatureFreeCadCannotMakeFailsTheBuildWhereItNextWaitsWithFreeCadsReason) {
    // Until FreeCAD has come up a build does not wait for it: the first finds it loading.
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    ASSERT_TRUE(Describe());
    const std::string reason = "FreeCAD не смог выполнить построение: RuntimeError: FreeCAD could "
                               "not make Бобышка-Вытянуть2";
    for (const bool readAfterIt : {false, true}) {
        SCOPED_TRACE(readAfterIt ? "a value read after it" : "the end of the build");
        bool readReturned = false;
        EXPECT_EQ(BuildWithAHeadApart(readAfterIt, &readReturned), reason);
        EXPECT_FALSE(readReturned);
        const auto part = Describe();
        ASSERT_TRUE(part);
        ASSERT_EQ(part->objects.size(), 9u);
        EXPECT_EQ(part->objects.back().label, "Бобышка-Вытянуть2");
        EXPECT_FALSE(part->objects.back().valid);
        EXPECT_EQ(part->recomputes, 1);
    }
}

TEST_F(FreeCadBuild, AFreeCadKilledOrHangingFailsTheBuildAndTheNextBuildStartsItAgain) {
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    const auto first = Describe();
    ASSERT_TRUE(first);

    // Killed between two calls of a build: a later call of that build fails.
    DispatchPtr app;
    ASSERT_EQ(CoCreateInstance(cadClsid_, nullptr, CLSCTX_LOCAL_SERVER, app.put()), S_OK);
    const Variant doc = Call(app.get(), u"NewDocument",
                             {Variant::fromBStr(BStr(u"" KREPIKS_PART_TEMPLATE)),
                              Variant::fromInt(0), Variant::fromInt(0), Variant::fromInt(0)});
    ASSERT_TRUE(doc.dispVal());
    ::kill(static_cast<pid_t>(first->pid), SIGKILL);
    EXPECT_ANY_THROW({
        const Variant sketches = krepiks::cad::test::Call(doc.dispVal().get(), u"SketchManager");
        krepiks::cad::test::Call(sketches.dispVal().get(), u"InsertSketch",
                                 {Variant::fromBool(true)});
        krepiks::cad::test::Call(sketches.dispVal().get(), u"CreateLine",
                                 {Variant::fromInt(0), Variant::fromInt(0), Variant::fromInt(0),
                                  Variant::fromDouble(0.01), Variant::fromInt(0),
                                  Variant::fromInt(0)});
    });
    app.reset();

    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    const auto second = Describe();
    ASSERT_TRUE(second);
    EXPECT_NE(second->pid, first->pid);
    EXPECT_TRUE(second->valid);

    // Stopped: the build fails for the time-out, before the client gives up on the call, and
    // the stopped FreeCAD is ended; the next build starts a FreeCAD of its own.
    ::kill(static_cast<pid_t>(second->pid), SIGSTOP);
    const auto stopped = std::chrono::steady_clock::now();
    try {
        krepiks::BuildModel(bolt);
        ADD_FAILURE() << "built on a stopped FreeCAD";
    } catch (const krepiks::EOleException& error) {
        EXPECT_NE(std::string(error.what()).find("did not answer in time"), std::string::npos)
            << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, bus::DefaultCallTimeout);
    EXPECT_FALSE(ProcessRunning(second->pid)) << "the stopped FreeCAD was left";
    ::kill(static_cast<pid_t>(second->pid), SIGKILL);
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    const auto third = Describe();
    ASSERT_TRUE(third);
    EXPECT_NE(third->pid, second->pid);
    EXPECT_TRUE(third->valid);
}

TEST_F(FreeCadBuild, AFreeCadDocumentAsTheTemplateIsOpenedAsACopyAndItsPlanesServe) {
    const freecadtest::Folder folder;
    const std::string path = folder / "template.FCStd";
    const auto made = freecadtest::RunProgram(
        QStringLiteral("freecadcmd"), {KREPIKS_MAKE_TEMPLATE},
        {{QStringLiteral("KREPIKS_TEMPLATE_FILE"), QString::fromStdString(path)}});
    ASSERT_EQ(made.code, 0) << made.err;
    const auto before = std::filesystem::last_write_time(path);
    const StandInPart expected = BuildInStandIn(krepiks::cad::test::WorkedExample());
    RegisterFreeCad();

    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    bolt.TemplatePath = path;
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    const auto part = Describe();
    ASSERT_TRUE(part);
    ASSERT_EQ(part->objects.size(), expected.features.size());
    EXPECT_EQ(part->objects.back().label, "Вырез-Повернуть1");
    EXPECT_TRUE(part->valid);
    // The chamfer sketch opened on the template's «Сверху», found by its label.
    EXPECT_EQ(part->normals.at("Эскиз3"), "0.000000000 1.000000000 0.000000000");
    EXPECT_NEAR(part->volume, expected.volume, 1e-6 * expected.volume);
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

TEST_F(FreeCadBuild, WithoutFreeCadTheBuildSaysWhichProgramCouldNotStart) {
    const freecadtest::Folder empty;
    setenv("KREPIKS_FREECAD_BIN", (empty / "").c_str(), 1);
    DispatchPtr app;
    const HRESULT created = CoCreateInstance(cadClsid_, nullptr, CLSCTX_LOCAL_SERVER, app.put());
    EXPECT_EQ(created, CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(OleErrorText(created), "Server execution failed");
    // The build tries to attach, as after any failed creation; with nothing running, it
    // reports why the creation failed.
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    try {
        krepiks::BuildModel(bolt);
        ADD_FAILURE() << "built without FreeCAD";
    } catch (const krepiks::EOleSysError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Server execution failed: '" KREPIKS_FREECAD "' ended", 0), 0u)
            << text;
        EXPECT_NE(text.find("freecadcmd"), std::string::npos) << text;
        EXPECT_NE(text.find("install the package freecad"), std::string::npos) << text;
    }
}

// As execvp does, a folder of FreeCAD's name earlier on PATH is not taken for FreeCAD.
TEST_F(FreeCadBuild, AFolderNamedLikeFreeCadOnThePathIsPassedOver) {
    const freecadtest::Folder folder;
    std::filesystem::create_directories(folder / "freecadcmd");
    std::filesystem::create_directories(folder / "freecad");
    const std::string path = std::getenv("PATH");
    setenv("PATH", (folder / "" + ":" + path).c_str(), 1);
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    EXPECT_NO_THROW(krepiks::BuildModel(bolt));
    setenv("PATH", path.c_str(), 1);
    const auto part = Describe();
    ASSERT_TRUE(part);
    EXPECT_TRUE(part->valid);
}

// A FreeCAD template is read, then opened: two requests in one call, which the client waits
// for as one.
TEST_F(FreeCadBuild, ACallOfSeveralSlowRequestsFailsWithFreeCadsReasonWithinTheClientsBound) {
    const freecadtest::Folder folder;
    std::filesystem::create_symlink(KREPIKS_SLOW_FREECAD, folder / "freecadcmd");
    setenv("KREPIKS_FREECAD_BIN", (folder / "").c_str(), 1);
    // Each request on the template takes 5 s: under the bound alone, over it together.
    setenv("KREPIKS_TEST_FREECAD_DELAY", "5", 1);
    DispatchPtr app;
    ASSERT_EQ(CoCreateInstance(cadClsid_, nullptr, CLSCTX_LOCAL_SERVER, app.put()), S_OK);
    unsetenv("KREPIKS_TEST_FREECAD_DELAY");
    krepiks::SolidWorksApp = Variant::fromDispatch(app); // for the clean-up's Quit
    Call(app.get(), u"NewDocument",
         {Variant::fromBStr(BStr(u"" KREPIKS_PART_TEMPLATE)), Variant::fromInt(0),
          Variant::fromInt(0), Variant::fromInt(0)});
    ASSERT_TRUE(Describe()); // waits until the stand-in's bridge is up

    const auto start = std::chrono::steady_clock::now();
    Variant doc;
    const CallOutcome slow =
        DispatchInvoke(app.get(), u"NewDocument", CallKind::Method,
                       {Variant::fromBStr(BStr(fromUtf8(folder / "slow.FCStd"))),
                        Variant::fromInt(0), Variant::fromInt(0), Variant::fromInt(0)},
                       &doc);
    EXPECT_LT(std::chrono::steady_clock::now() - start, bus::DefaultCallTimeout);
    EXPECT_EQ(slow.failure, CallOutcome::Failure::ServerException) << slow.message;
    EXPECT_NE(slow.message.find("FreeCAD did not answer in time"), std::string::npos)
        << slow.message;
}

TEST_F(FreeCadBuild, AnUnreadableFreeCadTemplateFailsTheBuildWithFreeCadsReason) {
    const freecadtest::Folder folder;
    const std::string path = folder / "empty.FCStd";
    std::ofstream{path};
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    bolt.TemplatePath = path;
    try {
        krepiks::BuildModel(bolt);
        ADD_FAILURE() << "built on an empty template";
    } catch (const krepiks::EOleException& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("FreeCAD не смог открыть шаблон детали: '" + path + "'", 0), 0u)
            << text;
        EXPECT_GT(text.size(),
                  std::string("FreeCAD не смог открыть шаблон детали: '" + path + "': ").size())
            << "FreeCAD's own reason";
    }
}

// Told to end, the server goes as it goes on its own: FreeCAD's bridge script with it.
TEST_F(FreeCadBuild, ATerminatedServerLeavesNoBridgeBehind) {
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    ASSERT_NO_THROW(krepiks::BuildModel(bolt));
    const auto part = Describe();
    ASSERT_TRUE(part);
    std::ifstream cmdline("/proc/" + std::to_string(part->pid) + "/cmdline");
    std::string program, script;
    std::getline(cmdline, program, '\0');
    std::getline(cmdline, script, '\0');
    ASSERT_TRUE(script.ends_with("/bridge.py")) << script;
    const auto server = QDBusConnection::sessionBus().interface()->servicePid(
        bus::BusNameForProgId(krepiks::SolidWorksProgId));
    ASSERT_TRUE(server.isValid());
    krepiks::ReleaseSolidWorks();
    ASSERT_EQ(::kill(static_cast<pid_t>(server.value()), SIGTERM), 0);
    EXPECT_TRUE(WaitFor([&] { return !ProcessRunning(server.value()); }));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(script).parent_path()));
    EXPECT_TRUE(WaitFor([&] { return !ProcessRunning(part->pid); })) << "headless FreeCAD stays";
}

} // namespace
