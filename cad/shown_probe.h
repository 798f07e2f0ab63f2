#pragma once
// Lets another program learn when the CAD window shows what it was last told, without
// guessing with a pause: a call of Shown() on ShownProbePath (interface ShownProbeInterface)
// is answered once a visible window has painted every change made before the call arrived,
// at once when it already has, and with an error when no window shows. The answer carries
// the moments (steady clock, in nanoseconds, the same clock in every program of the
// machine) the program started, claimed its bus name and painted, the time the last new
// document took to read its template, and the program's process id:
//
//   Shown() -> (x started, x named, x painted, x templateLoad, x pid)
//
// View() tells at once what the visible window draws on: Qt's platform, and whether its
// part view is the 3D one (not the note that stands in for it without OpenGL):
//
//   View() -> (s platform, b threeD)
#include <QDBusConnection>
#include <chrono>
#include <memory>

namespace krepiks::cad {

inline constexpr char ShownProbePath[] = "/org/krepiks/Cad";
inline constexpr char ShownProbeInterface[] = "org.krepiks.Cad";

class ShownProbe {
public:
    ShownProbe(QDBusConnection connection, std::chrono::steady_clock::time_point started,
               std::chrono::steady_clock::time_point named);
    ~ShownProbe();
    ShownProbe(const ShownProbe&) = delete;
    ShownProbe& operator=(const ShownProbe&) = delete;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace krepiks::cad
