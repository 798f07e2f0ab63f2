// What crosses the bus: bus names, the value lists, and a server facing malformed requests.
#include "automation/bus/protocol.h"
#include "bus_fixture.h"
#include "test_app.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QRegularExpression>

using namespace automation;
using namespace automation::bus;
using namespace bustest;

namespace {

TEST(BusName, IsAValidBusNameThatIgnoresTheCaseOfTheProgId) {
    EXPECT_EQ(BusNameForProgId(u"SldWorks.Application"),
              QStringLiteral("org.krepiks.Automation.sldworks_application"));
    EXPECT_EQ(BusNameForProgId(u"SLDWORKS.application"), BusNameForProgId(u"SldWorks.Application"));
    const QRegularExpression valid(
        QStringLiteral("^[A-Za-z_][A-Za-z0-9_-]*(\\.[A-Za-z_][A-Za-z0-9_-]*)+$"));
    for (const std::u16string progId : {u"1C.App", u"A-B.C D", u"Фирма.Программа", u""}) {
        const QString name = BusNameForProgId(progId);
        EXPECT_TRUE(valid.match(name).hasMatch()) << name.toStdString();
        EXPECT_LE(name.size(), 255);
    }
    EXPECT_NE(BusNameForProgId(u"a.b"), BusNameForProgId(u"a-b"));
}

QList<QVariant> Lists(QList<quint16> types, QList<qint64> numbers, QList<double> reals,
                      QList<quint16> text) {
    return {QVariant::fromValue(types), QVariant::fromValue(numbers), QVariant::fromValue(reals),
            QVariant::fromValue(text)};
}

TEST(WireValues, ReadBackWhatWasWrittenAndRefuseInconsistentLists) {
    WireValues wire;
    wire.append({VT_BSTR, 0, 0, BStr(u"ab")});
    wire.append({VT_BSTR, 0, 0, BStr()});
    wire.append({VT_BSTR, 0, 0, BStr(u"")});
    wire.append({VT_I4, -5, 0, {}});
    wire.append({VT_BYREF | VT_R8, 0, 0.5, {}});
    QList<QVariant> args;
    wire.appendTo(args);
    std::vector<WireValue> read;
    ASSERT_TRUE(ReadWireValues(args, 0, &read));
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(read[0].text, BStr(u"ab"));
    EXPECT_TRUE(read[1].text.isNull());
    EXPECT_FALSE(read[2].text.isNull());
    EXPECT_EQ(read[3].number, -5);
    EXPECT_EQ(read[4].real, 0.5);

    const std::pair<const char*, QList<QVariant>> bad[] = {
        {"lengths differ", Lists({VT_I4, VT_I4}, {1}, {0, 0}, {})},
        {"unknown type", Lists({VT_BYREF | VT_BSTR}, {0}, {0}, {})},
        {"int out of range", Lists({VT_I4}, {int64_t(1) << 40}, {0}, {})},
        {"bool neither -1 nor 0", Lists({VT_BOOL}, {5}, {0}, {})},
        {"negative handle", Lists({VT_DISPATCH}, {-3}, {0}, {})},
        {"text runs short", Lists({VT_BSTR}, {4}, {0}, {'a'})},
        {"text left over", Lists({VT_BSTR}, {1}, {0}, {'a', 'b'})},
        {"bad null marker", Lists({VT_BSTR}, {-2}, {0}, {})},
        {"too few lists", Lists({}, {}, {}, {}).mid(1)},
    };
    for (const auto& [why, lists] : bad) {
        read.assign(1, WireValue{});
        EXPECT_FALSE(ReadWireValues(lists, 0, &read)) << why;
        EXPECT_TRUE(read.empty()) << why;
    }
}

// Requests made by hand, from a connection other than the automation client's.
class RawRequests : public BusTest {
protected:
    QDBusMessage Ask(const char* method, const QList<QVariant>& args) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            BusNameForProgId(TestProgId), QString::fromLatin1(ObjectPath),
            QString::fromLatin1(Interface), QString::fromLatin1(method));
        message.setArguments(args);
        return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
    }
};

TEST_F(RawRequests, AreAnsweredWithErrorsAndOnlyTheClientsOwnHandlesWork) {
    RegisterWireTypes();
    DispatchPtr app;
    ASSERT_EQ(Create(&app), S_OK); // the automation client holds handle 1
    const int pid = ServerPid(app.get());

    const QDBusMessage created = Ask("CreateInstance", {});
    ASSERT_EQ(created.type(), QDBusMessage::ReplyMessage) << created.errorMessage().toStdString();
    const quint64 own = created.arguments()[1].toULongLong();
    EXPECT_EQ(created.arguments()[0].toInt(), S_OK);
    EXPECT_NE(own, 1u);

    const auto names = [&](quint64 handle) {
        const QDBusMessage reply =
            Ask("GetIDsOfNames", {QVariant::fromValue(handle), QStringLiteral("Echo"),
                                  QVariant::fromValue<quint32>(0)});
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments()[0].toInt() : 0;
    };
    EXPECT_EQ(names(own), S_OK);
    // The automation client's application: of the same class, the first one given out.
    const quint64 clients = (HandleClass(own) << HandleClassShift) | 1;
    EXPECT_EQ(names(clients), RPC_E_DISCONNECTED) << "another client's handle";
    EXPECT_EQ(names(12345), RPC_E_DISCONNECTED);

    const QDBusMessage wrongSignature = Ask("InvokeAs", {QVariant::fromValue(own)});
    EXPECT_EQ(wrongSignature.type(), QDBusMessage::ErrorMessage);

    QList<QVariant> garbled{QVariant::fromValue(own),
                            QString(),
                            1,
                            QVariant::fromValue<quint32>(0),
                            QVariant::fromValue<quint16>(DISPATCH_METHOD),
                            true,
                            QVariant::fromValue<quint64>(0)};
    garbled << Lists({VT_BSTR}, {1000}, {0}, {'a'});
    garbled << QVariant::fromValue(QList<qint32>{});
    const QDBusMessage refused = Ask("InvokeAs", garbled);
    EXPECT_EQ(refused.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(refused.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));

    // A run of posted calls whose parts disagree is refused whole: the good put in it does
    // not happen either.
    const auto run = [&](QList<quint32> valueCounts, QList<quint64> promises,
                         QList<quint64> releaseCounts = {}) {
        QList<QVariant> args{
            QVariant::fromValue(QList<quint64>{own, own}),
            QStringList{QStringLiteral("Value"), QStringLiteral("Value")},
            QVariant::fromValue(QList<qint32>{0, 0}),
            QVariant::fromValue(QList<quint32>{0, 0}),
            QVariant::fromValue(QList<quint16>{DISPATCH_PROPERTYPUT, DISPATCH_PROPERTYPUT}),
            QVariant::fromValue(QList<bool>{false, false}),
            QVariant::fromValue(promises),
            QVariant::fromValue(valueCounts)};
        args << Lists({VT_I4, VT_I4}, {41, 42}, {0, 0}, {});
        args << QVariant::fromValue(QList<quint32>{1, 1})
             << QVariant::fromValue(QList<qint32>{DISPID_PROPERTYPUT, DISPID_PROPERTYPUT})
             << QVariant::fromValue(QList<quint64>{}) << QVariant::fromValue(releaseCounts)
             << false;
        return Ask("PostRun", args);
    };
    const auto valueOf = [&] {
        QList<QVariant> get{QVariant::fromValue(own),
                            QStringLiteral("Value"),
                            0,
                            QVariant::fromValue<quint32>(0),
                            QVariant::fromValue<quint16>(DISPATCH_PROPERTYGET),
                            true,
                            QVariant::fromValue<quint64>(0)};
        get << Lists({}, {}, {}, {}) << QVariant::fromValue(QList<qint32>{});
        const QDBusMessage reply = Ask("InvokeAs", get);
        return reply.type() == QDBusMessage::ReplyMessage
                   ? qdbus_cast<QList<qint64>>(reply.arguments()[2]).value(0, -1)
                   : -1;
    };
    for (const auto& [counts, promises] : std::vector<std::pair<QList<quint32>, QList<quint64>>>{
             {{1, 2}, {0, 0}}, {{0, 1}, {0, 0}}, {{1}, {0, 0}}, {{1, 1}, {0, 7}}}) {
        const QDBusMessage bad = run(counts, promises);
        EXPECT_EQ(bad.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"))
            << bad.errorMessage().toStdString();
    }
    EXPECT_EQ(run({1, 1}, {0, 0}, {1}).errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"))
        << "a release without its handle";
    EXPECT_EQ(valueOf(), 0);
    const QDBusMessage good = run({1, 1}, {0, 0});
    ASSERT_EQ(good.type(), QDBusMessage::ReplyMessage) << good.errorMessage().toStdString();
    EXPECT_EQ(qdbus_cast<QList<qint32>>(good.arguments()[0]), (QList<qint32>{S_OK, S_OK}));
    EXPECT_EQ(valueOf(), 42) << "carried out in order";

    QDBusMessage release = QDBusMessage::createMethodCall(
        BusNameForProgId(TestProgId), QString::fromLatin1(ObjectPath),
        QString::fromLatin1(Interface), QStringLiteral("Release"));
    release << QVariant::fromValue<quint64>(1) << QVariant::fromValue<quint64>(100);
    QDBusConnection::sessionBus().send(release); // not this connection's: ignored

    EXPECT_EQ(ServerPid(app.get()), pid) << "the server survived and still serves";
    EXPECT_EQ(Call(app.get(), u"HeldHandles", {}, CallKind::Get).intVal(), 2);
}

} // namespace

namespace {

TEST(ActiveObjectLookup, AnswersOnlyWhatTheRunningTableHereDoesNot) {
    int asked = 0;
    const DispatchPtr elsewhere = MakeTestApplication({});
    const auto lookup = [&](IDispatch** out) {
        ++asked;
        *out = DispatchPtr(elsewhere).detach();
        return S_OK;
    };
    const CLSID clsid =
        RegisterClassObject(u"KrepiksBusTest.Lookup", nullptr, CLSCTX_LOCAL_SERVER, lookup);
    DispatchPtr found;
    ASSERT_EQ(GetActiveObject(clsid, nullptr, found.put()), S_OK);
    EXPECT_EQ(found.get(), elsewhere.get());
    EXPECT_EQ(asked, 1);

    const DispatchPtr here = MakeTestApplication({});
    uint32_t cookie = 0;
    ASSERT_EQ(RegisterActiveObject(here.get(), clsid, ACTIVEOBJECT_STRONG, &cookie), S_OK);
    ASSERT_EQ(GetActiveObject(clsid, nullptr, found.put()), S_OK);
    EXPECT_EQ(found.get(), here.get());
    EXPECT_EQ(asked, 1);
    RevokeActiveObject(cookie);

    RegisterClassObject(u"KrepiksBusTest.Lookup", nullptr, CLSCTX_LOCAL_SERVER,
                        [](IDispatch**) { return RPC_S_CALL_FAILED; });
    EXPECT_EQ(GetActiveObject(clsid, nullptr, found.put()), RPC_S_CALL_FAILED);
    // Registering without a lookup drops it.
    RegisterClassObject(u"KrepiksBusTest.Lookup", nullptr, CLSCTX_LOCAL_SERVER);
    EXPECT_EQ(GetActiveObject(clsid, nullptr, found.put()), MK_E_UNAVAILABLE);
    UnregisterClassObject(u"KrepiksBusTest.Lookup");
}

} // namespace
