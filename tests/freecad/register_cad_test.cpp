// krepiks-register-cad, run as the user runs it, against the registration creation reads.
#include "automation/bus/local_client.h"
#include "automation/bus/user_registration.h"
#include "automation/invoke.h"
#include "cad/cad_server.h"

#include "run_program.h"

namespace {

using namespace freecadtest;

TEST(RegisterCad, TheChoiceIsKeptForTheUserWhereCreationLooksAndFreeCadMissingIsSaidAtOnce) {
    const Folder folder;
    const std::vector<std::pair<QString, QString>> config{
        {QStringLiteral("XDG_CONFIG_HOME"), folder.q("config")}};
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    const std::u16string progId = krepiks::cad::CadProgId;

    const Ran initial = RunProgram(KREPIKS_REGISTER_CAD, {}, config);
    ASSERT_EQ(initial.code, 0) << initial.err;
    EXPECT_NE(initial.out.find("builtin"), std::string::npos) << initial.out;
    EXPECT_EQ(automation::bus::UserRegisteredServer(progId), "");

    const Ran freecad = RunProgram(KREPIKS_REGISTER_CAD, {QStringLiteral("freecad")}, config);
    ASSERT_EQ(freecad.code, 0) << freecad.err;
    EXPECT_EQ(freecad.err, ""); // FreeCAD is installed here
    EXPECT_EQ(automation::bus::UserRegisteredServer(progId), KREPIKS_FREECAD);
    EXPECT_NE(RunProgram(KREPIKS_REGISTER_CAD, {}, config).out.find("freecad"), std::string::npos);
    // Creation reaches the registered program, not the default it was given.
    const automation::CLSID clsid =
        automation::bus::RegisterUserLocalServer(progId, "/nonexistent/krepiks-cad");
    automation::DispatchPtr app;
    ASSERT_EQ(
        automation::CoCreateInstance(clsid, nullptr, automation::CLSCTX_LOCAL_SERVER, app.put()),
        automation::S_OK);
    automation::Variant ignored;
    EXPECT_TRUE(
        automation::DispatchInvoke(app.get(), u"Quit", automation::CallKind::Method, {}, &ignored)
            .ok());
    app.reset();
    automation::UnregisterClassObject(progId);

    auto missing = config;
    missing.emplace_back(QStringLiteral("KREPIKS_FREECAD_BIN"), folder.q("config"));
    const Ran warned = RunProgram(KREPIKS_REGISTER_CAD, {QStringLiteral("freecad")}, missing);
    EXPECT_EQ(warned.code, 0);
    EXPECT_NE(warned.err.find("install the package freecad"), std::string::npos) << warned.err;

    const Ran builtin = RunProgram(KREPIKS_REGISTER_CAD, {QStringLiteral("builtin")}, config);
    ASSERT_EQ(builtin.code, 0) << builtin.err;
    EXPECT_EQ(automation::bus::UserRegisteredServer(progId), "");
    EXPECT_EQ(RunProgram(KREPIKS_REGISTER_CAD, {QStringLiteral("solidworks")}, config).code, 2);
    unsetenv("XDG_CONFIG_HOME");
}

} // namespace
