#pragma once
// The benchmarks over the session bus: a private bus for the run, and this executable
// serving "SldWorks.Application" as a local server of its own, as the CAD program would.
#include <string>

namespace krepiks::bench {

// Given to the executable that the bus client starts: "null" or "cad".
inline constexpr char ServerOption[] = "--krepiks-bench-server=";

// The server's kind when argv asks for the server, else empty.
std::string ServerKind(int argc, char** argv);
// Serves that kind until its application quits or the bus goes; returns the exit code.
int RunBenchServer(const std::string& kind, int argc, char** argv);

// A session bus of the run's own (never the user's), started on first use; false, with the
// reason, when dbus-daemon cannot start.
bool StartPrivateBus(std::string* error);
// Ends the private bus, and with it any server still on it.
void StopPrivateBus();

// From now on creating "SldWorks.Application" starts (or finds) this executable serving kind.
void RegisterBenchServer(const std::string& kind);
void UnregisterBenchServer();

} // namespace krepiks::bench
