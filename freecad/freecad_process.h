#pragma once
// One FreeCAD process started by krepiks-freecad: headless (freecadcmd) or with its window
// (freecad), running bridge.py, and reached over two pipes that only this program holds.
// Requests are Python expressions; each waits for its answer at most a bounded time.
#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace krepiks::freecad {

// The FreeCAD programs on PATH (or in $KREPIKS_FREECAD_BIN when set); empty when missing.
std::string FindFreeCadCmd();
std::string FindFreeCadGui();

// The Debian package that provides them, for the person told they are missing.
inline constexpr char FreeCadPackage[] = "freecad";

// How long one request may take before FreeCAD counts as hanging: below the time a client
// waits for a call, so that the client hears why.
inline constexpr std::chrono::milliseconds RequestTimeout{6000};

class FreeCadProcess {
public:
    FreeCadProcess() = default;
    ~FreeCadProcess();
    FreeCadProcess(const FreeCadProcess&) = delete;
    FreeCadProcess& operator=(const FreeCadProcess&) = delete;

    // Starts FreeCAD, its window when gui. Requests can be sent at once: they wait in the
    // pipe until the bridge is up, so no call waits for FreeCAD to load.
    bool start(bool gui, std::string* error);
    bool running() const { return pid_ > 0; }
    bool gui() const { return gui_; }
    pid_t pid() const { return pid_; }
    // Whether the bridge has said it is up.
    bool ready() const { return ready_; }
    // Whether FreeCAD has closed its end of the channel (ended, or its window was closed).
    bool hungUp() const;

    struct Answer {
        bool ok = false;      // every expression was evaluated
        bool channel = false; // when not ok: FreeCAD itself failed, not an expression
        std::string text;     // the last value, or the first failure
    };
    using Clock = std::chrono::steady_clock;
    // Sends one Python expression without waiting for its value. A pipe FreeCAD has stopped
    // emptying is waited on as a request is, then counts as hanging: false, with why, when
    // FreeCAD is gone or was let go for that.
    bool send(const std::string& expression, std::string* why = nullptr);
    // Takes the answers to what was sent: with wait, all of them, FreeCAD counting as hanging
    // when they are not all there by deadline; without, those already there. A FreeCAD that
    // ended or hangs is let go (a headless one is killed), and running() turns false.
    Answer settle(bool wait, Clock::time_point deadline);
    // The same within timeout from now, or within the start's own limit while the bridge
    // is not up yet.
    Answer settle(bool wait, std::chrono::milliseconds timeout = RequestTimeout);
    // send, then settle waiting: the expression's value.
    Answer request(const std::string& expression, Clock::time_point deadline);
    Answer request(const std::string& expression,
                   std::chrono::milliseconds timeout = RequestTimeout);

    // Closes the pipes: a headless FreeCAD ends, a window stays with the user.
    void release();

private:
    enum class Read { Frame, Timeout, Closed };
    Read readFrame(std::string& out, std::chrono::steady_clock::time_point deadline);
    enum class Write { Done, Timeout, Closed };
    Write writeAll(const std::string& data, Clock::time_point deadline);
    Clock::time_point deadlineAfter(std::chrono::milliseconds timeout) const;
    void fail();

    pid_t pid_ = -1;
    bool gui_ = false;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
    bool ready_ = false;
    size_t outstanding_ = 0; // answers still to come, the bridge's own first
    std::chrono::steady_clock::time_point startDeadline_;
    std::string firstError_, lastValue_;
    std::string scriptDir_;
};

// Python literals for what is sent: a text (UTF-8 kept) and a double in full precision.
std::string PyText(const std::string& text);
std::string PyNumber(double value);

} // namespace krepiks::freecad
