// A server program that cannot serve, as a build meets it: the registration that names it,
// and a second copy of a program that already serves.
#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"
#include "automation/bus/user_registration.h"
#include "bolt_steps.h"
#include "bus_fixture.h"
#include "model/solidworks.h"
#include "platform/exception.h"
#include "run_program.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

#include <fstream>

namespace {

using namespace freecadtest;

// The build's message for a registration file holding registered.
std::string BuildWithRegistration(const Folder& folder, const std::string& registered) {
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    const std::string file = automation::bus::UserRegistrationPath(krepiks::SolidWorksProgId);
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file) << registered << '\n';
    automation::bus::RegisterUserLocalServer(krepiks::SolidWorksProgId, KREPIKS_CAD);
    krepiks::TBolt bolt = krepiks::cad::test::BoltOf(krepiks::cad::test::WorkedExample());
    std::string message = "built";
    try {
        krepiks::BuildModel(bolt);
    } catch (const krepiks::EOleSysError& error) {
        message = error.what();
    }
    krepiks::ReleaseSolidWorks();
    automation::UnregisterClassObject(krepiks::SolidWorksProgId);
    unsetenv("XDG_CONFIG_HOME");
    return message;
}

TEST(ServerStart, ARegistrationThatNamesNoProgramIsBadAndNothingIsRun) {
    const Folder folder;
    // A relative path would run from the catalogue folder: here, a program that leaves a mark.
    fs::create_directories(folder / "catalogue");
    const std::string mark = folder / "ran";
    std::ofstream(folder / "catalogue/evil") << "#!/bin/sh\ntouch '" << mark << "'\n";
    fs::permissions(folder / "catalogue/evil", fs::perms::owner_all);
    const fs::path before = fs::current_path();
    fs::current_path(folder / "catalogue");
    const std::string relative = BuildWithRegistration(folder, "./evil");
    fs::current_path(before);
    const std::string file = folder / "config/krepiks/classes/SldWorks.Application";
    EXPECT_EQ(relative, "Server execution failed: bad registration " + file +
                            ": './evil' is not an absolute path; expected the absolute path of "
                            "a program");
    EXPECT_FALSE(fs::exists(mark));

    EXPECT_EQ(BuildWithRegistration(folder, folder / "catalogue"),
              "Server execution failed: bad registration " + file + ": '" + (folder / "catalogue") +
                  "' is not a program file; expected the absolute path of a program");
    EXPECT_EQ(BuildWithRegistration(folder, folder / "missing"),
              "Server execution failed: bad registration " + file + ": '" + (folder / "missing") +
                  "': No such file or directory; expected the absolute path of a program");
}

TEST(ServerStart, ASecondCopyOfTheServerSaysWhoServesTheName) {
    ASSERT_FALSE(bustest::PrivateBusAddress().empty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess first, second;
    first.setProcessEnvironment(environment);
    second.setProcessEnvironment(environment);
    first.start(QStringLiteral(KREPIKS_CAD), {QStringLiteral("-Embedding")});
    ASSERT_TRUE(first.waitForStarted());
    const QString name = automation::bus::BusNameForProgId(krepiks::SolidWorksProgId);
    EXPECT_TRUE(bustest::WaitFor(
        [&] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(name); }));
    second.start(QStringLiteral(KREPIKS_CAD), {QStringLiteral("-Embedding")});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 1);
    const std::string said = second.readAllStandardError().toStdString();
    EXPECT_NE(said.find("is taken: another program serves it (process " +
                        std::to_string(first.processId()) + ")"),
              std::string::npos)
        << said;
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(60000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit) << "ended by the signal, not by itself";
}

} // namespace
