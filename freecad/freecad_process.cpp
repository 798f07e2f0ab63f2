#include "freecad/freecad_process.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace krepiks::freecad {

extern const char BridgeScript[]; // bridge.py, built in

namespace {

// The descriptors the bridge reads and writes in FreeCAD.
constexpr int ChildIn = 3, ChildOut = 4;

std::string FindProgram(const char* name) {
    std::string dirs;
    if (const char* own = std::getenv("KREPIKS_FREECAD_BIN"))
        dirs = own;
    else if (const char* path = std::getenv("PATH"))
        dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/" + name;
            // As execvp does: a folder of that name is skipped, not taken for the program.
            struct stat entry {};
            if (stat(candidate.c_str(), &entry) == 0 && S_ISREG(entry.st_mode) &&
                access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return {};
}

} // namespace

std::string FindFreeCadCmd() {
    return FindProgram("freecadcmd");
}
std::string FindFreeCadGui() {
    return FindProgram("freecad");
}

std::string PyText(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c); // UTF-8 passes through: the request is decoded as such
        }
    }
    return out + "\"";
}

std::string PyNumber(double value) {
    if (!std::isfinite(value))
        return "float('nan')";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

FreeCadProcess::~FreeCadProcess() {
    release();
    if (!scriptDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scriptDir_, ignored);
    }
}

bool FreeCadProcess::start(bool gui, std::string* error) {
    const auto failWith = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    const std::string program = gui ? FindFreeCadGui() : FindFreeCadCmd();
    if (program.empty())
        return failWith(std::string(gui ? "freecad" : "freecadcmd") +
                        " not found; install the package " + FreeCadPackage);
    if (scriptDir_.empty()) {
        // Only this user may read or replace the code FreeCAD is told to run.
        std::string pattern = (std::filesystem::temp_directory_path() / "krepiks-freecad-XXXXXX");
        if (!mkdtemp(pattern.data()))
            return failWith(std::string("cannot make a private folder: ") + std::strerror(errno));
        scriptDir_ = pattern;
        std::ofstream(scriptDir_ + "/bridge.py", std::ios::binary) << BridgeScript;
    }
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0)
        return failWith(std::strerror(errno));
    if (pipe2(up, O_CLOEXEC) != 0) {
        close(down[0]);
        close(down[1]);
        return failWith(std::strerror(errno));
    }
    // Above the child's target numbers, so that placing one cannot overwrite the other.
    const int childIn = fcntl(down[0], F_DUPFD_CLOEXEC, 10);
    const int childOut = fcntl(up[1], F_DUPFD_CLOEXEC, 10);
    close(down[0]);
    close(up[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // FreeCAD reports progress on standard output; its errors stay on standard error.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, childIn, ChildIn);
    posix_spawn_file_actions_adddup2(&actions, childOut, ChildOut);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "KREPIKS_FREECAD_", 16) != 0)
            env.emplace_back(*e);
    // FreeCAD's start page is a web view, whose browser refuses to run as root sandboxed.
    if (gui && geteuid() == 0 && !std::getenv("QTWEBENGINE_CHROMIUM_FLAGS"))
        env.push_back("QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox");
    env.push_back("KREPIKS_FREECAD_IN=" + std::to_string(ChildIn));
    env.push_back("KREPIKS_FREECAD_OUT=" + std::to_string(ChildOut));
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string script = scriptDir_ + "/bridge.py";
    std::string name = program;
    char* argv[] = {name.data(), script.data(), nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(childIn);
    close(childOut);
    // Requests go out without waiting for FreeCAD; a FreeCAD that stops reading must not stop
    // this program in a write.
    fcntl(down[1], F_SETFL, fcntl(down[1], F_GETFL) | O_NONBLOCK);
    if (spawned != 0) {
        close(down[1]);
        close(up[0]);
        return failWith("cannot start " + program + ": " + std::strerror(spawned));
    }
    pid_ = pid;
    gui_ = gui;
    toChild_ = down[1];
    fromChild_ = up[0];
    buffer_.clear();
    ready_ = false;
    outstanding_ = 1;
    firstError_.clear();
    lastValue_.clear();
    // A window takes longer to come up than the bare interpreter.
    startDeadline_ = std::chrono::steady_clock::now() +
                     (gui ? std::chrono::milliseconds(60000) : std::chrono::milliseconds(30000));
    return true;
}

FreeCadProcess::Read FreeCadProcess::readFrame(std::string& out,
                                               std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const size_t newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            const size_t size = std::strtoul(buffer_.c_str(), nullptr, 10);
            if (buffer_.size() - newline - 1 >= size) {
                out = buffer_.substr(newline + 1, size);
                buffer_.erase(0, newline + 1 + size);
                return Read::Frame;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fromChild_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return Read::Timeout;
        if (ready < 0)
            return Read::Closed;
        char chunk[1 << 16];
        const ssize_t n = read(fromChild_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Read::Closed;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

FreeCadProcess::Write FreeCadProcess::writeAll(const std::string& data,
                                               Clock::time_point deadline) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(toChild_, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            return Write::Closed;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Write::Timeout;
        pollfd p{toChild_, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return Write::Closed;
    }
    return Write::Done;
}

bool FreeCadProcess::send(const std::string& expression, std::string* why) {
    const auto failWith = [&](const char* text) {
        if (why)
            *why = text;
        return false;
    };
    if (!running())
        return failWith("FreeCAD ended");
    const Write written = writeAll(std::to_string(expression.size()) + "\n" + expression,
                                   deadlineAfter(RequestTimeout));
    if (written != Write::Done) {
        fail();
        return failWith(written == Write::Timeout ? "FreeCAD did not answer in time"
                                                  : "FreeCAD ended");
    }
    ++outstanding_;
    return true;
}

FreeCadProcess::Clock::time_point
FreeCadProcess::deadlineAfter(std::chrono::milliseconds timeout) const {
    // Until the bridge is up the wait is its start's, not one request's.
    const auto now = Clock::now();
    return ready_ ? now + timeout : std::max(startDeadline_, now + timeout);
}

FreeCadProcess::Answer FreeCadProcess::settle(bool wait, std::chrono::milliseconds timeout) {
    return settle(wait, deadlineAfter(timeout));
}

FreeCadProcess::Answer FreeCadProcess::settle(bool wait, Clock::time_point deadline) {
    Answer answer;
    answer.channel = true;
    if (!running()) {
        answer.text = "FreeCAD is not running";
        return answer;
    }
    while (outstanding_ > 0) {
        const auto now = Clock::now();
        std::string frame;
        const Read read = readFrame(frame, wait ? deadline : now);
        if (read == Read::Timeout && !wait && (ready_ || now < startDeadline_))
            break;
        if (read != Read::Frame) {
            answer.text = read == Read::Closed ? "FreeCAD ended" : "FreeCAD did not answer in time";
            fail();
            return answer;
        }
        --outstanding_;
        if (!ready_) {
            ready_ = frame == "ok ready";
            if (!ready_) {
                answer.text = "FreeCAD did not start its bridge";
                fail();
                return answer;
            }
            continue;
        }
        const bool ok = frame.rfind("ok ", 0) == 0;
        const std::string text = frame.substr(std::min(frame.size(), ok ? 3 : frame.find(' ') + 1));
        if (!ok && firstError_.empty())
            firstError_ = text.empty() ? frame : text;
        lastValue_ = text;
    }
    answer.channel = false;
    answer.ok = firstError_.empty();
    answer.text = answer.ok ? lastValue_ : std::exchange(firstError_, {});
    return answer;
}

FreeCadProcess::Answer FreeCadProcess::request(const std::string& expression,
                                               Clock::time_point deadline) {
    Answer gone;
    if (!send(expression, &gone.text)) {
        gone.channel = true;
        return gone;
    }
    return settle(true, deadline);
}

FreeCadProcess::Answer FreeCadProcess::request(const std::string& expression,
                                               std::chrono::milliseconds timeout) {
    return request(expression, deadlineAfter(timeout));
}

bool FreeCadProcess::hungUp() const {
    if (fromChild_ < 0)
        return false;
    pollfd p{fromChild_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR));
}

void FreeCadProcess::fail() {
    // A FreeCAD that stopped answering would take the next build's calls with it; its window
    // is the user's, so only the headless one is ended.
    if (pid_ > 0 && !gui_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    release();
}

void FreeCadProcess::release() {
    if (toChild_ >= 0)
        close(toChild_);
    if (fromChild_ >= 0)
        close(fromChild_);
    toChild_ = fromChild_ = -1;
    ready_ = false;
    outstanding_ = 0;
    // A headless FreeCAD ends as soon as its pipe closes; a window lives on, on its own.
    if (pid_ > 0)
        waitpid(pid_, nullptr, gui_ ? WNOHANG : 0);
    pid_ = -1;
}

} // namespace krepiks::freecad
