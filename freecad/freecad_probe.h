#pragma once
// Lets another program see what FreeCAD holds for the running application's active
// document: a call of Describe() on FreeCadProbePath (interface FreeCadProbeInterface)
// answers with FreeCadLink::describe's lines, after one line "pid <FreeCAD's process id>";
// an error when there is no such document.
#include <QDBusConnection>
#include <functional>
#include <memory>
#include <string>

namespace krepiks::freecad {

inline constexpr char FreeCadProbePath[] = "/org/krepiks/FreeCad";
inline constexpr char FreeCadProbeInterface[] = "org.krepiks.FreeCad";

class FreeCadProbe {
public:
    // describe gives the answer, empty when there is nothing to describe.
    FreeCadProbe(QDBusConnection connection, std::function<std::string()> describe);
    ~FreeCadProbe();
    FreeCadProbe(const FreeCadProbe&) = delete;
    FreeCadProbe& operator=(const FreeCadProbe&) = delete;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace krepiks::freecad
