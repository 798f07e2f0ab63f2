#pragma once
// The client half of the local-server transport: classes served by another program over
// the session bus.
//
//   automation::bus::RegisterLocalServer(u"My.Application", "/usr/bin/my-server");
//   CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, app.put());
//
// Creation asks the program that owns the class's bus name (BusNameForProgId) for an
// instance; when none owns it, the program is started detached (it outlives this one) with
// the given arguments and the current folder, and creation waits up to StartTimeout() until
// it has claimed the name. A program that cannot be started, ends or does not claim the
// name in time gives CO_E_SERVER_EXEC_FAILURE. GetActiveObject asks the program that owns
// the name for its running instance, and gives MK_E_UNAVAILABLE when none owns it.
//
// Where the server offers a direct connection (PeerAddress in protocol.h), creation and
// every later call go over it; otherwise over the bus. Objects from the server are proxies:
// GetIDsOfNames and Invoke cross to the server and block
// the calling thread (without running its event loop) until the answer comes, at most
// CallTimeout(). All values keep their types, the null text stays apart from the empty one,
// by-reference doubles and objects go to the server and what it leaves in them comes back
// into the caller's storage. A by-reference object the server replaces follows COM's
// out-parameter rule: the caller's cell then holds a reference of its own, and the one it
// held is released. The same server object always comes back as the same proxy while the
// client holds it. Only the server's own objects (or no object) can be passed to it; any
// other object gives DISP_E_TYPEMISMATCH before anything is sent.
//
// When the server has gone away the calls fail with the errors of a vanished server:
// RPC_S_SERVER_UNAVAILABLE ("The RPC server is unavailable") when it is no longer on the
// bus as a call starts, RPC_S_CALL_FAILED ("The remote procedure call failed") when it
// leaves during the call or does not answer in time. Releasing a proxy tells the server
// without waiting; once the application object of this program is gone nothing is sent
// any more, and the server lets go of everything when this program leaves the bus.
#include "automation/automation.h"

#include <chrono>
#include <string>
#include <vector>

namespace automation::bus {

inline constexpr std::chrono::milliseconds DefaultCallTimeout{8000};
inline constexpr std::chrono::milliseconds DefaultStartTimeout{10000};

// Registers progId as served by the program at executablePath, for CLSCTX_LOCAL_SERVER.
// COM starts a local server with "-Embedding", and so does this by default. registeredIn
// names the registration file the path came from, for the report of a path that cannot be
// started. A failed creation leaves why in automation::TakeErrorDescription(): which program
// could not be started, and what it said when it gave up (see ReportStartFailure).
CLSID RegisterLocalServer(const std::u16string& progId, const std::string& executablePath,
                          std::vector<std::string> arguments = {"-Embedding"},
                          const std::string& registeredIn = {});

// As RegisterLocalServer with "-Embedding", but when the session bus has a service file for
// the class's bus name, the bus starts the program, as desktop programs start each other;
// only when it has none does this start the program itself. For the program that the
// service file names: the bus cannot be asked which program that is.
CLSID RegisterBusStartedServer(const std::u16string& progId, const std::string& executablePath);

// How long one call may take, and how long a started server may take to claim its name.
std::chrono::milliseconds CallTimeout();
void SetCallTimeout(std::chrono::milliseconds timeout);
std::chrono::milliseconds StartTimeout();
void SetStartTimeout(std::chrono::milliseconds timeout);

// Whether object is a proxy of an object in another program.
bool IsRemoteObject(const IDispatch* object);

} // namespace automation::bus
