// The program's own build against the CAD stand-in in a program of its own.
#include "automation/bus/local_client.h"
#include "automation/trace.h"
#include "bus_fixture.h"
#include "cad/cad_server.h"
#include "model/solidworks.h"
#include "platform/exception.h"

#include <QProcess>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

using namespace automation;
using namespace bustest;

namespace {

krepiks::TBolt WorkedExample() {
    krepiks::TBolt bolt;
    bolt.isp = "worked";
    bolt.d0 = 10, bolt.d1 = 12, bolt.d2 = 8, bolt.K = 7.5, bolt.L = 60;
    bolt.L2 = 30, bolt.L3 = 6, bolt.b = 50, bolt.c = 45, bolt.e = 20;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    return bolt;
}

class CadThroughTheBus : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped())
            return;
        status_ = pidFile_ + ".status";
        std::filesystem::remove(status_);
        cadClsid_ =
            bus::RegisterLocalServer(krepiks::SolidWorksProgId, CAD_BUS_SERVER,
                                     {"-Embedding", "--pid-file", pidFile_, "--status", status_});
    }
    void TearDown() override {
        krepiks::ReleaseSolidWorks();
        BusTest::TearDown();
        UnregisterClassObject(krepiks::SolidWorksProgId);
        if (!status_.empty())
            std::filesystem::remove(status_);
    }
    // Documents of the served application, as the server last wrote them.
    long Documents() const {
        long n = -1;
        std::ifstream(status_) >> n;
        return n;
    }
    std::string status_;
    CLSID cadClsid_;
};

TEST_F(CadThroughTheBus, ABuildSendsTheSameCallsAsInProcess) {
    const std::string local = pidFile_ + ".local.trace";
    const std::string remote = pidFile_ + ".bus.trace";
    std::filesystem::remove(local);
    std::filesystem::remove(remote);
    const auto traced = [](const std::string& path) {
        setenv("KREPIKS_AUTOMATION_TRACE", path.c_str(), 1);
        trace::Reload();
        krepiks::TBolt bolt = WorkedExample();
        krepiks::BuildModel(bolt);
        unsetenv("KREPIKS_AUTOMATION_TRACE");
        trace::Reload();
    };

    krepiks::cad::RegisterCadServer(); // in this process, in place of the bus
    ASSERT_NO_THROW(traced(local));
    krepiks::ReleaseSolidWorks();
    krepiks::cad::RunningCadSession()->quit();
    krepiks::cad::UnregisterCadServer();

    bus::RegisterLocalServer(krepiks::SolidWorksProgId, CAD_BUS_SERVER,
                             {"-Embedding", "--pid-file", pidFile_, "--status", status_});
    ASSERT_NO_THROW(traced(remote));
    EXPECT_TRUE(bus::IsRemoteObject(krepiks::SolidWorksApp.dispVal().get()));
    const auto expected = Lines(local);
    EXPECT_EQ(expected.size(), 2u + 348u); // Visible, NewDocument, then the script
    EXPECT_EQ(Lines(remote), expected);
    EXPECT_TRUE(WaitFor([this] { return Documents() == 1; }));
    std::filesystem::remove(local);
    std::filesystem::remove(remote);
}

// A build that fails at a call nobody waited for ends as one that waited on every call.
TEST_F(CadThroughTheBus, AFailedBuildEndsWithTheSameMessageAndTheSameTrace) {
    const std::string local = pidFile_ + ".local.trace";
    const std::string remote = pidFile_ + ".bus.trace";
    const auto traced = [](const std::string& path) {
        std::filesystem::remove(path);
        setenv("KREPIKS_AUTOMATION_TRACE", path.c_str(), 1);
        trace::Reload();
        krepiks::TBolt bolt = WorkedExample();
        bolt.K = std::numeric_limits<double>::infinity(); // the head's extrusion is refused
        std::string message = "no failure";
        try {
            krepiks::BuildModel(bolt);
        } catch (const std::exception& error) {
            message = error.what();
        }
        unsetenv("KREPIKS_AUTOMATION_TRACE");
        trace::Reload();
        return message;
    };

    krepiks::cad::RegisterCadServer();
    const std::string expected = traced(local);
    krepiks::ReleaseSolidWorks();
    krepiks::cad::RunningCadSession()->quit();
    krepiks::cad::UnregisterCadServer();
    const auto expectedLines = Lines(local);
    ASSERT_FALSE(expectedLines.empty());
    ASSERT_NE(expectedLines.back().find("\"member\": \"FeatureExtrusion\""), std::string::npos)
        << expectedLines.back();
    ASSERT_NE(expectedLines.back().find("\"error\""), std::string::npos);

    bus::RegisterLocalServer(krepiks::SolidWorksProgId, CAD_BUS_SERVER,
                             {"-Embedding", "--pid-file", pidFile_, "--status", status_});
    EXPECT_EQ(traced(remote), expected);
    EXPECT_EQ(Lines(remote), expectedLines);
    // The program carried out nothing after the failed call, and the next build goes through.
    krepiks::TBolt bolt = WorkedExample();
    EXPECT_NO_THROW(krepiks::BuildModel(bolt));
    EXPECT_TRUE(WaitFor([this] { return Documents() == 2; }));
    std::filesystem::remove(local);
    std::filesystem::remove(remote);
}

TEST_F(CadThroughTheBus, BuildsReuseTheProgramAndCloseEndsIt) {
    krepiks::TBolt bolt = WorkedExample();
    krepiks::BuildModel(bolt);
    krepiks::BuildModel(bolt);
    EXPECT_EQ(HelperPids().size(), 1u);
    EXPECT_TRUE(WaitFor([this] { return Documents() == 2; }));

    const long pid = HelperPids().front();
    krepiks::CloseSolidWorks();
    EXPECT_TRUE(WaitFor([pid] { return !ProcessRunning(pid); }));
    try {
        krepiks::CloseSolidWorks();
        FAIL() << "a second close reached a program that has ended";
    } catch (const krepiks::EOleSysError& error) {
        EXPECT_EQ(error.errorCode(), RPC_S_SERVER_UNAVAILABLE);
    }

    krepiks::BuildModel(bolt);
    ASSERT_EQ(HelperPids().size(), 2u);
    EXPECT_NE(HelperPids()[1], pid);
    EXPECT_TRUE(WaitFor([this] { return Documents() == 1; }));
}

TEST_F(CadThroughTheBus, TheProgramAndItsPartOutliveTheClientThatBuiltIt) {
    QProcess client;
    client.start(QStringLiteral(CAD_BUS_SERVER),
                 {QStringLiteral("--build"), QStringLiteral("--pid-file"),
                  QString::fromStdString(pidFile_), QStringLiteral("--status"),
                  QString::fromStdString(status_)});
    ASSERT_TRUE(client.waitForFinished(60000));
    ASSERT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
    ASSERT_EQ(HelperPids().size(), 2u); // the client, then the CAD program it started
    const long cad = HelperPids()[1];
    EXPECT_TRUE(ProcessRunning(cad));
    EXPECT_TRUE(WaitFor([this] { return Documents() == 1; }));

    DispatchPtr app;
    ASSERT_EQ(GetActiveObject(cadClsid_, nullptr, app.put()), S_OK);
    EXPECT_EQ(Call(app.get(), u"Visible", {}, CallKind::Get).boolVal(), VARIANT_TRUE);
    EXPECT_EQ(Documents(), 1);
    EXPECT_TRUE(ProcessRunning(cad));
}

} // namespace
