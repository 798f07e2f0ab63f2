// krepiks-freecad's replay and export, run as the user runs them, and the saved document
// opened again by a FreeCAD of its own.
#include "automation/trace.h"
#include "bolt_steps.h"
#include "cad/cad_server.h"
#include "model/solidworks.h"

#include "run_program.h"

#include <fstream>
#include <sstream>

namespace {

using namespace freecadtest;

// The build of d against the stand-in in this process, traced to path; the part's volume.
double TraceStandInBuild(const krepiks::cad::test::BoltDims& d, const std::string& path) {
    setenv("KREPIKS_AUTOMATION_TRACE", path.c_str(), 1);
    automation::trace::Reload();
    krepiks::cad::RegisterCadServer();
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(d);
    krepiks::BuildModel(bolt);
    krepiks::ReleaseSolidWorks();
    unsetenv("KREPIKS_AUTOMATION_TRACE");
    automation::trace::Reload();
    const auto session = krepiks::cad::RunningCadSession();
    const double volume = session->activeDocument()->volume();
    session->quit();
    krepiks::cad::UnregisterCadServer();
    return volume;
}

TEST(FreeCadReplay, TheSavedDocumentReopensToTheSameBodyAndStepIsWritten) {
    const Folder folder;
    const double expected =
        TraceStandInBuild(krepiks::cad::test::WorkedExample(), folder / "build.trace");

    const Ran saved =
        RunProgram(KREPIKS_FREECAD, {QStringLiteral("--replay"), folder.q("build.trace"),
                                     QStringLiteral("--export"), folder.q("bolt.FCStd")});
    ASSERT_EQ(saved.code, 0) << saved.err;
    EXPECT_NE(saved.out.find("saved to"), std::string::npos) << saved.out;

    // A FreeCAD of its own opens the file and recomputes the body from its sketches.
    const Ran check = RunProgram(QStringLiteral("freecadcmd"), {KREPIKS_REOPEN_CHECK},
                                 {{QStringLiteral("KREPIKS_CHECK_FILE"), folder.q("bolt.FCStd")}});
    ASSERT_EQ(check.code, 0) << check.err;
    const size_t at = check.out.find("krepiks-check ");
    ASSERT_NE(at, std::string::npos) << check.out << check.err;
    std::istringstream line(check.out.substr(at + 14));
    double volume = 0;
    int valid = 0;
    std::string labels;
    line >> volume >> valid >> labels;
    EXPECT_NEAR(volume, expected, 1e-6 * expected);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(labels, "Эскиз1,Бобышка-Повернуть1,Эскиз2,Бобышка-Вытянуть1,Ось1,Эскиз3,"
                      "Вырез-Повернуть1");

    const Ran step =
        RunProgram(KREPIKS_FREECAD, {QStringLiteral("--replay"), folder.q("build.trace"),
                                     QStringLiteral("--export"), folder.q("bolt.step")});
    ASSERT_EQ(step.code, 0) << step.err;
    std::ifstream file(folder / "bolt.step");
    std::string head;
    std::getline(file, head);
    EXPECT_EQ(head.rfind("ISO-10303-21;", 0), 0u) << head;

    // A trace that is not one fails, naming it.
    std::ofstream(folder / "bad.trace") << "not a trace\n";
    const Ran bad = RunProgram(KREPIKS_FREECAD, {QStringLiteral("--replay"), folder.q("bad.trace"),
                                                 QStringLiteral("--export"), folder.q("x.step")});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("bad.trace"), std::string::npos) << bad.err;
}

} // namespace
