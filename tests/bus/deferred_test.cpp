// Calls that go out without waiting for their answer, and the direct connection they take.
#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"
#include "automation/invoke.h"
#include "automation/trace.h"
#include "bus_fixture.h"
#include "test_app.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace automation;
using namespace bustest;
using Clock = std::chrono::steady_clock;

namespace {

class Deferred : public BusTest {
protected:
    void TearDown() override {
        unsetenv("KREPIKS_AUTOMATION_TRACE");
        trace::Reload();
        for (const auto& path : traces_)
            std::filesystem::remove(path);
        BusTest::TearDown();
        UnregisterClassObject(SecondProgId);
    }
    void TraceTo(const std::string& name) {
        traces_.push_back(pidFile_ + "." + name);
        std::filesystem::remove(traces_.back());
        setenv("KREPIKS_AUTOMATION_TRACE", traces_.back().c_str(), 1);
        trace::Reload();
    }
    static CallOutcome Put(IDispatch* app, int value) {
        return DispatchInvoke(app, u"Value", CallKind::Put, {Variant::fromInt(value)}, nullptr);
    }
    std::vector<std::string> traces_;
};

TEST_F(Deferred, AFailureNobodyWaitedForEndsTheNextCallAndNothingAfterItIsCarriedOut) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);

    // What waiting on every call gives: the caller stops at the failure.
    TraceTo("waited");
    ASSERT_TRUE(Put(app.get(), 5).ok());
    const CallOutcome waited = DispatchInvoke(app.get(), u"Fail", CallKind::Method, {}, nullptr);
    ASSERT_FALSE(waited.ok());
    const auto expected = Lines(traces_.back());
    ASSERT_EQ(expected.size(), 2u);

    ASSERT_TRUE(Put(app.get(), 0).ok());
    TraceTo("deferred");
    CallOutcome reported;
    bool fired = false;
    {
        DeferredCalls scope;
        EXPECT_TRUE(Put(app.get(), 5).ok());
        EXPECT_TRUE(DispatchInvoke(app.get(), u"Fail", CallKind::Method, {}, nullptr).ok())
            << "not waited for";
        EXPECT_TRUE(Put(app.get(), 7).ok());
        EXPECT_TRUE(HasDeferredCalls());
        QTimer::singleShot(0, [&] { fired = true; });
        Variant value;
        reported = DispatchInvoke(app.get(), u"Value", CallKind::Get, {}, &value);
        EXPECT_TRUE(value.isEmpty());
        EXPECT_FALSE(HasDeferredCalls());
    }
    EXPECT_FALSE(fired) << "the caller's events wait while answers are taken";
    EXPECT_EQ(reported.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(reported.message, waited.message);
    EXPECT_EQ(reported.code, waited.code);
    EXPECT_EQ(Lines(traces_.back()), expected) << "the later put and the get are not traced";

    // The server carried out nothing after the failure, and takes calls again.
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 5);
    ASSERT_TRUE(Put(app.get(), 9).ok());
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 9);
}

TEST_F(Deferred, AFailureAtOneServerStopsTheCallsMadeOnAnotherServerAfterIt) {
    DispatchPtr first, second;
    ASSERT_EQ(Create(&first), S_OK);
    const CLSID secondClass = bus::RegisterLocalServer(
        SecondProgId, BUS_TEST_SERVER, {"-Embedding", "--pid-file", pidFile_, "--second"});
    ASSERT_EQ(CoCreateInstance(secondClass, nullptr, CLSCTX_LOCAL_SERVER, second.put()), S_OK);
    ASSERT_NE(ServerPid(first.get()), ServerPid(second.get())) << "two server programs";
    ASSERT_TRUE(Put(second.get(), 1).ok()); // its member number known: the put will not wait

    TraceTo("waited");
    const CallOutcome waited = DispatchInvoke(first.get(), u"Fail", CallKind::Method, {}, nullptr);
    ASSERT_FALSE(waited.ok());
    const auto expected = Lines(traces_.back());
    ASSERT_EQ(expected.size(), 1u);

    // The second server cannot know of the first one's failure: the client must learn of it
    // before the put leaves.
    TraceTo("deferred");
    CallOutcome put;
    {
        DeferredCalls scope;
        EXPECT_TRUE(DispatchInvoke(first.get(), u"Fail", CallKind::Method, {}, nullptr).ok())
            << "not waited for";
        put = Put(second.get(), 7);
    }
    EXPECT_EQ(put.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(put.message, waited.message);
    EXPECT_EQ(put.code, waited.code);
    EXPECT_EQ(Lines(traces_.back()), expected) << "the put is not traced";
    EXPECT_EQ(Call(second.get(), u"Value", {}, CallKind::Get).intVal(), 1)
        << "the put was not carried out";

    // Nor does a call that waits for its answer reach the other server.
    const auto childId = [&] {
        const Variant child = Call(second.get(), u"MakeChild");
        return Call(child.dispVal().get(), u"Id", {}, CallKind::Get).intVal();
    };
    const int before = childId();
    CallOutcome made;
    {
        DeferredCalls scope;
        EXPECT_TRUE(DispatchInvoke(first.get(), u"Fail", CallKind::Method, {}, nullptr).ok());
        Variant child;
        made = DispatchInvoke(second.get(), u"MakeChild", CallKind::Method, {}, &child);
        EXPECT_TRUE(child.isEmpty());
    }
    EXPECT_EQ(made.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(childId(), before + 1) << "no child was made in between";
}

TEST_F(Deferred, CallsThatSucceedAreTracedInOrderWhenTheirAnswersAreTaken) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    const auto run = [&] {
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(Put(app.get(), i).ok());
            Variant child;
            ASSERT_TRUE(DispatchInvoke(app.get(), u"MakeChild", CallKind::Method, {}, &child).ok());
            ASSERT_TRUE(
                DispatchInvoke(child.dispVal().get(), u"Id", CallKind::Get, {}, nullptr).ok());
        }
    };
    TraceTo("waited");
    run();
    const auto expected = Lines(traces_.back());
    TraceTo("deferred");
    {
        DeferredCalls scope;
        run();
        ASSERT_TRUE(Put(app.get(), 4).ok());
        EXPECT_TRUE(SettleDeferredCalls().ok());
    }
    auto lines = Lines(traces_.back());
    ASSERT_EQ(lines.size(), expected.size() + 1);
    lines.pop_back();
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 4);
}

TEST_F(Deferred, ResultsCalledOnBeforeTheyComeAreTracedAndCarriedOutAsWhenWaitedFor) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    // A child, its parent (the application again: the same number in the trace), a put on
    // that parent, and the child handed back by Echo, called on at once.
    const auto run = [&] {
        Variant child, parent, echoed;
        ASSERT_TRUE(DispatchInvoke(app.get(), u"MakeChild", CallKind::Method, {}, &child).ok());
        ASSERT_TRUE(
            DispatchInvoke(child.dispVal().get(), u"Parent", CallKind::Get, {}, &parent).ok());
        ASSERT_TRUE(Put(parent.dispVal().get(), 5).ok());
        ASSERT_TRUE(DispatchInvoke(app.get(), u"Echo", CallKind::Method, {child}, &echoed).ok());
        ASSERT_TRUE(DispatchInvoke(echoed.dispVal().get(), u"Id", CallKind::Get, {}, nullptr).ok());
    };
    TraceTo("waited");
    run();
    const auto expected = Lines(traces_.back());
    ASSERT_EQ(expected.size(), 5u);
    ASSERT_TRUE(Put(app.get(), 0).ok());
    TraceTo("promised");
    {
        DeferredCalls scope;
        AcceptPromises promises;
        run();
        EXPECT_TRUE(HasDeferredCalls()) << "nothing waited for";
        EXPECT_TRUE(SettleDeferredCalls().ok());
    }
    EXPECT_EQ(Lines(traces_.back()), expected);
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 5);
}

TEST_F(Deferred, AResultThatIsNoObjectOrLacksTheMemberStopsTheCallsMadeOnIt) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    ASSERT_TRUE(Put(app.get(), 1).ok());
    // Waited for: Echo of nothing hands back no object, which the caller cannot call on;
    // and a member the child lacks is refused at its lookup.
    TraceTo("waited");
    Variant none, child;
    ASSERT_TRUE(DispatchInvoke(app.get(), u"Echo", CallKind::Method, {Variant()}, &none).ok());
    ASSERT_TRUE(none.isEmpty());
    ASSERT_TRUE(DispatchInvoke(app.get(), u"MakeChild", CallKind::Method, {}, &child).ok());
    const CallOutcome lacking =
        DispatchInvoke(child.dispVal().get(), u"Nope", CallKind::Method, {}, nullptr);
    ASSERT_EQ(lacking.failure, CallOutcome::Failure::UnknownName);
    const auto expected = Lines(traces_.back());

    TraceTo("promised");
    CallOutcome first, second;
    {
        DeferredCalls scope;
        AcceptPromises promises;
        Variant promisedNone, promisedChild;
        ASSERT_TRUE(
            DispatchInvoke(app.get(), u"Echo", CallKind::Method, {Variant()}, &promisedNone).ok());
        ASSERT_TRUE(promisedNone.vt() == VT_DISPATCH) << "a stand-in until the answer comes";
        EXPECT_TRUE(
            DispatchInvoke(promisedNone.dispVal().get(), u"Id", CallKind::Get, {}, nullptr).ok());
        EXPECT_TRUE(Put(app.get(), 2).ok());
        first = SettleDeferredCalls();

        ASSERT_TRUE(
            DispatchInvoke(app.get(), u"MakeChild", CallKind::Method, {}, &promisedChild).ok());
        EXPECT_TRUE(
            DispatchInvoke(promisedChild.dispVal().get(), u"Nope", CallKind::Method, {}, nullptr)
                .ok());
        second = SettleDeferredCalls();
    }
    EXPECT_EQ(first.failure, CallOutcome::Failure::NoObject) << first.message;
    EXPECT_EQ(first.message, "Variant does not reference an automation object");
    EXPECT_EQ(second.failure, CallOutcome::Failure::UnknownName);
    EXPECT_EQ(second.message, lacking.message);
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 1)
        << "nothing after the call on no object was carried out";
    EXPECT_EQ(Lines(traces_.back()).size(), expected.size() + 1) << "and the value read";
    auto lines = Lines(traces_.back());
    lines.pop_back();
    EXPECT_EQ(lines, expected);
}

TEST_F(Deferred, AServerKilledWithCallsOutstandingFailsThemWithinTheCallTime) {
    const std::string mark = (std::filesystem::temp_directory_path() /
                              ("krepiks-deferred-hang-" + std::to_string(::getpid())))
                                 .string();
    std::filesystem::remove(mark);
    setenv("KREPIKS_TEST_HANG_MARK", mark.c_str(), 1);
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    unsetenv("KREPIKS_TEST_HANG_MARK");
    const int pid = ServerPid(app.get());
    ASSERT_TRUE(Put(app.get(), 1).ok()); // its member number known: the put will not wait
    CallOutcome outcome;
    std::atomic<Clock::rep> killed{0};
    bool hung = false;
    {
        DeferredCalls scope;
        ASSERT_TRUE(DispatchInvoke(app.get(), u"Hang", CallKind::Method, {}, nullptr).ok());
        ASSERT_TRUE(Put(app.get(), 3).ok());
        // The calls leave once their answers are asked for: the server is killed while the
        // caller waits for them.
        std::thread killer([&] {
            hung = WaitFor([&] { return std::filesystem::exists(mark); });
            killed = Clock::now().time_since_epoch().count();
            ::kill(pid, SIGKILL);
        });
        outcome = SettleDeferredCalls();
        killer.join();
    }
    std::filesystem::remove(mark);
    ASSERT_TRUE(hung) << "the hanging call reached the server";
    EXPECT_LT(std::chrono::duration<double>(Clock::now() -
                                            Clock::time_point(Clock::duration(killed.load())))
                  .count(),
              4.0)
        << "the death is noticed, not waited out";
    EXPECT_EQ(outcome.code, RPC_S_CALL_FAILED);
    EXPECT_EQ(DispatchInvoke(app.get(), u"Value", CallKind::Get, {}, nullptr).code,
              RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(Deferred, LongRunsOfPostedCallsKeepTheirOrderAndStopAtTheFirstFailure) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    // More calls than go out in one message, with the failure well past the first message.
    const auto run = [&] {
        for (int i = 1; i <= 150; ++i) {
            EXPECT_TRUE(Put(app.get(), i).ok()) << "not waited for";
            if (i == 100) {
                EXPECT_TRUE(DispatchInvoke(app.get(), u"Fail", CallKind::Method, {}, nullptr).ok());
            }
        }
        Variant value;
        return DispatchInvoke(app.get(), u"Value", CallKind::Get, {}, &value);
    };
    TraceTo("waited");
    CallOutcome waited;
    for (int i = 1; i <= 100 && waited.ok(); ++i)
        waited = Put(app.get(), i);
    ASSERT_TRUE(waited.ok());
    waited = DispatchInvoke(app.get(), u"Fail", CallKind::Method, {}, nullptr);
    ASSERT_FALSE(waited.ok());
    const auto expected = Lines(traces_.back());
    ASSERT_EQ(expected.size(), 101u);

    ASSERT_TRUE(Put(app.get(), 0).ok());
    TraceTo("posted");
    CallOutcome posted;
    {
        DeferredCalls scope;
        posted = run();
    }
    EXPECT_EQ(posted.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(posted.message, waited.message);
    EXPECT_EQ(Lines(traces_.back()), expected);
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 100)
        << "every put before the failure, in order, and none after it";
}

// However the posted calls fell into runs, the server hears that the caller waits on the last
// one before it takes their answers, and on no other.
TEST_F(Deferred, OnlyTheLastCallBeforeTheAnswersAreTakenIsServedAsWaitedOn) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    const auto note = [&] {
        return DispatchInvoke(app.get(), u"Note", CallKind::Method, {}, nullptr);
    };
    std::string expected;
    // Less than a message holds, exactly as many, one more, and two messages' worth.
    for (const int calls : {3, 64, 65, 128}) {
        DeferredCalls scope;
        for (int i = 0; i < calls; ++i)
            ASSERT_TRUE(note().ok());
        EXPECT_TRUE(SettleDeferredCalls().ok());
        expected += std::string(calls - 1, '.') + 'w';
    }
    ASSERT_TRUE(note().ok());
    expected += 'w';
    EXPECT_EQ(toUtf8(Call(app.get(), u"Notes", {}, CallKind::Get).bstrVal().str()), expected);
}

// A run carries 64 calls at most: the next goes out in a message of its own.
TEST_F(Deferred, ARunCarriesSixtyFourCallsAndNoMore) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    const auto note = [&] {
        return DispatchInvoke(app.get(), u"Note", CallKind::Method, {}, nullptr);
    };
    const auto served = [&] { return Call(app.get(), u"Messages", {}, CallKind::Get).intVal(); };
    // Each name looked up once, waited for.
    ASSERT_TRUE(note().ok());
    served();
    for (const auto& [calls, runs] : {std::pair{64, 1}, {65, 2}, {128, 2}, {129, 3}}) {
        const int before = served();
        {
            DeferredCalls scope;
            for (int i = 0; i < calls; ++i)
                ASSERT_TRUE(note().ok());
            EXPECT_TRUE(SettleDeferredCalls().ok());
        }
        // The reading before was counted once it had been served.
        EXPECT_EQ(served() - before - 1, runs) << calls << " calls";
    }
}

TEST_F(Deferred, WhatPostedCallsLetGoOfIsReleasedBeforeTheNextCall) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    ASSERT_EQ(Call(app.get(), u"LiveChildren", {}, CallKind::Get).intVal(), 0);
    {
        DeferredCalls scope;
        AcceptPromises promises;
        for (int i = 0; i < 100; ++i) {
            Variant child;
            ASSERT_TRUE(DispatchInvoke(app.get(), u"MakeChild", CallKind::Method, {}, &child).ok());
            ASSERT_TRUE(
                DispatchInvoke(child.dispVal().get(), u"Id", CallKind::Get, {}, nullptr).ok());
        }
    }
    // Stand-ins and children are given back in the runs and after them, not one by one.
    EXPECT_EQ(Call(app.get(), u"LiveChildren", {}, CallKind::Get).intVal(), 0);
    EXPECT_EQ(Call(app.get(), u"HeldHandles", {}, CallKind::Get).intVal(), 1);
}

TEST_F(Deferred, ReferencesTheServerOnlyReadsAreNotWaitedForAndOthersAre) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    // Each member's number (and type information) learnt first, as a build's first calls do.
    double x = 1;
    ASSERT_TRUE(Put(app.get(), 0).ok());
    ASSERT_TRUE(
        DispatchInvoke(app.get(), u"Keep", CallKind::Method, {Variant::byRefDouble(&x)}, nullptr)
            .ok());
    for (const char16_t* member : {u"Scale", u"Grow"})
        ASSERT_TRUE(DispatchInvoke(app.get(), member, CallKind::Method,
                                   {Variant::byRefDouble(&x), Variant::fromInt(1)}, nullptr)
                        .ok());

    {
        DeferredCalls scope;
        // Without type information, and marked [in, out]: waited for, the value comes back.
        for (const char16_t* member : {u"Scale", u"Grow"}) {
            ASSERT_TRUE(Put(app.get(), 3).ok());
            x = 2;
            ASSERT_TRUE(DispatchInvoke(app.get(), member, CallKind::Method,
                                       {Variant::byRefDouble(&x), Variant::fromInt(5)}, nullptr)
                            .ok());
            EXPECT_FALSE(HasDeferredCalls()) << "waited for";
            EXPECT_EQ(x, 10);
        }
        // Only read: it goes out with the calls around it.
        x = 6;
        ASSERT_TRUE(DispatchInvoke(app.get(), u"Keep", CallKind::Method, {Variant::byRefDouble(&x)},
                                   nullptr)
                        .ok());
        EXPECT_TRUE(HasDeferredCalls()) << "not waited for";
        EXPECT_TRUE(SettleDeferredCalls().ok());
    }
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 6);

    // On a result still on its way a member is known by its name alone; the same holds.
    {
        DeferredCalls scope;
        AcceptPromises promises;
        const auto self = [&] {
            Variant echoed;
            EXPECT_TRUE(DispatchInvoke(app.get(), u"Echo", CallKind::Method,
                                       {Variant::fromDispatch(app)}, &echoed)
                            .ok());
            EXPECT_TRUE(HasDeferredCalls()) << "a stand-in";
            return echoed;
        };
        for (const char16_t* member : {u"Scale", u"Grow"}) {
            x = 2;
            ASSERT_TRUE(DispatchInvoke(self().dispVal().get(), member, CallKind::Method,
                                       {Variant::byRefDouble(&x), Variant::fromInt(5)}, nullptr)
                            .ok());
            EXPECT_FALSE(HasDeferredCalls()) << "waited for";
            EXPECT_EQ(x, 10);
        }
        x = 8;
        ASSERT_TRUE(DispatchInvoke(self().dispVal().get(), u"Keep", CallKind::Method,
                                   {Variant::byRefDouble(&x)}, nullptr)
                        .ok());
        EXPECT_TRUE(HasDeferredCalls()) << "not waited for";
        EXPECT_TRUE(SettleDeferredCalls().ok());
    }
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 8);

    // One that fails stops what follows as a waited one would have.
    const auto keep = [&](double value) {
        x = value;
        return DispatchInvoke(app.get(), u"Keep", CallKind::Method, {Variant::byRefDouble(&x)},
                              nullptr);
    };
    TraceTo("waited");
    ASSERT_TRUE(keep(4).ok());
    const CallOutcome waited = keep(-1);
    ASSERT_FALSE(waited.ok());
    const auto expected = Lines(traces_.back());
    ASSERT_EQ(expected.size(), 2u);
    TraceTo("posted");
    CallOutcome reported;
    {
        DeferredCalls scope;
        EXPECT_TRUE(keep(4).ok());
        EXPECT_TRUE(keep(-1).ok()) << "not waited for";
        EXPECT_TRUE(Put(app.get(), 7).ok());
        Variant value;
        reported = DispatchInvoke(app.get(), u"Value", CallKind::Get, {}, &value);
    }
    EXPECT_EQ(reported.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(reported.message, waited.message);
    EXPECT_EQ(reported.code, waited.code);
    EXPECT_EQ(Lines(traces_.back()), expected);
    EXPECT_EQ(Call(app.get(), u"Value", {}, CallKind::Get).intVal(), 4);
}

TEST_F(Deferred, TheDirectConnectionIsASocketOnlyThisUserCanReach) {
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK);
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage ask = QDBusMessage::createMethodCall(
        bus::BusNameForProgId(TestProgId), QString::fromLatin1(bus::ObjectPath),
        QString::fromLatin1(bus::Interface), QStringLiteral("PeerAddress"));
    const QDBusMessage reply = bus.call(ask);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    const QString address = reply.arguments().value(0).toString();
    ASSERT_TRUE(address.startsWith(QLatin1String("unix:path="))) << address.toStdString();
    const std::filesystem::path socket =
        address.mid(10).section(QLatin1Char(','), 0, 0).toStdString();
    EXPECT_TRUE(std::filesystem::is_socket(socket));
    EXPECT_EQ(std::filesystem::status(socket.parent_path()).permissions(),
              std::filesystem::perms::owner_all);

    EXPECT_EQ(Call(app.get(), u"HeldHandles", {}, CallKind::Get).intVal(), 1);
}

} // namespace
