#include "automation/bus/local_client.h"

#include "automation/bus/channel.h"
#include "automation/bus/client_state.h"
#include "automation/bus/protocol.h"
#include "automation/bus/remote_object.h"
#include "automation/bus/server_start.h"

#include <QCoreApplication>

namespace automation::bus {

using namespace client;

namespace {

HRESULT CreateRemote(const Registration& server, IDispatch** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!QCoreApplication::instance())
        return CO_E_NOTINITIALIZED;
    const auto connection = Connection();
    if (!connection)
        return CO_E_SERVER_EXEC_FAILURE;
    // A second round when the program found on the bus leaves before it answers.
    for (int round = 0; round < 2; ++round) {
        QString owner = OwnerOf(*connection, server.busName);
        std::string why;
        if (owner.isEmpty())
            owner = Launch(*connection, server, &why);
        if (owner.isEmpty()) {
            SetErrorDescription(why);
            return CO_E_SERVER_EXEC_FAILURE;
        }
        const QString reached = Reach(*connection, owner);
        const Answer answer = CallServer(reached, "CreateInstance", {}, "it");
        if (answer.failure == RPC_S_SERVER_UNAVAILABLE ||
            (answer.failure == RPC_S_CALL_FAILED && OwnerOf(*connection, server.busName) != owner))
            continue;
        if (FAILED(answer.failure))
            return CO_E_SERVER_EXEC_FAILURE;
        const HRESULT h = answer.arguments[0].toInt();
        IDispatch* object = Adopt(reached, answer.arguments[1].toULongLong());
        if (FAILED(h) || !object) {
            if (object)
                object->Release();
            return FAILED(h) ? h : E_NOINTERFACE;
        }
        *out = object;
        return S_OK;
    }
    return CO_E_SERVER_EXEC_FAILURE;
}

HRESULT FindRunning(const Registration& server, IDispatch** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!QCoreApplication::instance())
        return CO_E_NOTINITIALIZED;
    const auto connection = Connection();
    if (!connection)
        return MK_E_UNAVAILABLE;
    const QString owner = OwnerOf(*connection, server.busName);
    if (owner.isEmpty())
        return MK_E_UNAVAILABLE;
    const QString reached = Reach(*connection, owner);
    const Answer answer = CallServer(reached, "GetActiveObject", {}, "it");
    if (answer.failure == RPC_S_SERVER_UNAVAILABLE)
        return MK_E_UNAVAILABLE;
    if (FAILED(answer.failure))
        return answer.failure;
    const HRESULT h = answer.arguments[0].toInt();
    IDispatch* object = Adopt(reached, answer.arguments[1].toULongLong());
    if (FAILED(h) || !object) {
        if (object)
            object->Release();
        return FAILED(h) ? h : MK_E_UNAVAILABLE;
    }
    *out = object;
    return S_OK;
}

CLSID Register(Registration server, const std::u16string& progId) {
    return RegisterClassObject(
        progId, [server](IDispatch** out) { return CreateRemote(server, out); },
        CLSCTX_LOCAL_SERVER, [server](IDispatch** out) { return FindRunning(server, out); });
}

} // namespace

CLSID RegisterLocalServer(const std::u16string& progId, const std::string& executablePath,
                          std::vector<std::string> arguments, const std::string& registeredIn) {
    Registration server;
    server.progId = toUtf8(progId);
    server.busName = BusNameForProgId(progId);
    server.program = QString::fromStdString(executablePath);
    server.registeredIn = QString::fromStdString(registeredIn);
    for (const auto& argument : arguments)
        server.arguments << QString::fromStdString(argument);
    return Register(std::move(server), progId);
}

CLSID RegisterBusStartedServer(const std::u16string& progId, const std::string& executablePath) {
    Registration server;
    server.progId = toUtf8(progId);
    server.busName = BusNameForProgId(progId);
    server.program = QString::fromStdString(executablePath);
    server.arguments << QStringLiteral("-Embedding");
    server.busStarted = true;
    return Register(std::move(server), progId);
}

} // namespace automation::bus
