#pragma once
// The server half of the local-server transport: lets the automation objects of this
// program be created, found and called by other programs over the session bus.
//
// A server program registers its class in its own registry as usual, then serves it:
//
//   QCoreApplication app(argc, argv);          // or QApplication
//   RegisterMyServer();                        // RegisterClassObject(u"My.Application", ...)
//   automation::bus::LocalServer server(u"My.Application");
//   std::string error;
//   if (!server.start(&error))                 // another copy runs, or there is no bus
//       return 1;
//   return app.exec();
//
// A client's creation request is this program's own CoCreateInstance(CLSCTX_INPROC_SERVER),
// and its attach request is this program's own GetActiveObject. Calls run on the thread of
// the event loop that created the server, one at a time, as in a single-threaded apartment.
// The server holds each object it handed out until the client gives it back or leaves the
// bus. Nothing here ends the program: the program decides (typically withdraw() when its
// application quits, then leaving its event loop; see afterCall).
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace automation::bus {

// For a server program that gives up before serving: tells the client that started it why
// (as well as standard error, which nobody may be reading). Does nothing when no client asked.
void ReportStartFailure(const std::string& why);

// Makes SIGTERM, SIGINT and SIGHUP leave the event loop of the running application, so that a
// server told to end cleans up as one that ends on its own does. Call once the application
// object exists.
void QuitOnTermination();

class LocalServer {
public:
    explicit LocalServer(std::u16string progId);
    // Withdraws, releases every object still held for clients and waits until the replies
    // already sent have left.
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // Starts answering and claims the bus name: from then on clients find this program
    // running. False, with the reason, when there is no session bus or another program
    // holds the name.
    bool start(std::string* error = nullptr);

    // Gives up the bus name, so that the next client creation starts a fresh program;
    // clients that hold objects can go on calling them.
    void withdraw();

    // The name clients look for: BusNameForProgId(progId).
    std::string busName() const;

    // Clients that hold at least one object, and the objects held for all of them.
    size_t clientCount() const;
    size_t handleCount() const;

    // Called once if the connection to the bus is lost (the session ended).
    void onBusLost(std::function<void()> callback);

    // Called after each request has been served and before its answer leaves, e.g. to
    // withdraw as soon as a call has ended the application, so that no client reaches a
    // program that is about to end.
    void afterCall(std::function<void()> callback);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace automation::bus
