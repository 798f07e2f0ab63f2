// krepiks-test-reaper: ends a test's private server and removes its folder once the process
// that started it is gone, however that process ended.
//
//   krepiks-test-reaper [--pid PID] [--pid-file FILE] [--signal TERM|QUIT|INT] [--remove DIR]
//
// Standard input is a pipe whose write end only the starter holds: end of file means the
// starter has died or let go. --pid names the server now (it must be running); --pid-file
// names a file whose first line is the server's pid once it runs, read at the end and obeyed
// only if that process works in the file's folder, as a postmaster does in its data folder.
//
// The program detaches from the starter's process tree, since whatever kills the starter's
// tree (ctest on a timeout) would kill a plain child too, and exits once the detached
// process holds the pipe, so the starter can wait for that.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// How long a server may take to end of its own accord, and then after SIGKILL.
constexpr int GraceMs = 10000;
constexpr int KillMs = 10000;

struct Options {
    pid_t pid = 0;
    std::string pidFile;
    std::string folder;
    int signal = SIGTERM;
};

// Called directly: Debian 12's <sys/pidfd.h> lacks C linkage for C++.
int PidfdOpen(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool PidfdSignal(int pidfd, int signal) {
    return syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

int Usage() {
    std::fprintf(stderr, "usage: krepiks-test-reaper [--pid PID] [--pid-file FILE] "
                         "[--signal TERM|QUIT|INT] [--remove DIR]\n");
    return 2;
}

bool Parse(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (arg == "--pid") {
            char* end = nullptr;
            const long pid = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || pid <= 0)
                return false;
            options->pid = static_cast<pid_t>(pid);
        } else if (arg == "--pid-file") {
            // Absolute, as the detached process works from the root.
            options->pidFile = std::filesystem::absolute(value).string();
        } else if (arg == "--remove") {
            options->folder = std::filesystem::absolute(value).string();
        } else if (arg == "--signal") {
            if (value == "TERM")
                options->signal = SIGTERM;
            else if (value == "QUIT")
                options->signal = SIGQUIT;
            else if (value == "INT")
                options->signal = SIGINT;
            else
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool WaitGone(int pidfd, int ms) {
    pollfd entry{pidfd, POLLIN, 0};
    for (;;) {
        const int ready = poll(&entry, 1, ms);
        if (ready >= 0 || errno != EINTR)
            return ready != 0;
    }
}

void End(int pidfd, int signal) {
    if (!PidfdSignal(pidfd, signal))
        return; // already gone
    if (!WaitGone(pidfd, GraceMs)) {
        PidfdSignal(pidfd, SIGKILL);
        WaitGone(pidfd, KillMs);
    }
}

// The pid file's process, if it still works in the file's folder: a pid alone may by now
// name some other process.
int PidFileServer(const std::string& pidFile) {
    std::ifstream file(pidFile);
    long pid = 0;
    if (!(file >> pid) || pid <= 0)
        return -1;
    const int pidfd = PidfdOpen(static_cast<pid_t>(pid));
    if (pidfd < 0)
        return -1;
    std::error_code cwdError, folderError;
    const auto cwd =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd", cwdError);
    const auto folder = std::filesystem::weakly_canonical(
        std::filesystem::path(pidFile).parent_path(), folderError);
    if (cwdError || folderError || cwd != folder) {
        close(pidfd);
        return -1;
    }
    return pidfd;
}

void Remove(const std::string& folder) {
    // remove_all does not follow symbolic links. A server's last children may still be
    // writing there for a moment.
    for (int attempt = 0; attempt < 50; ++attempt) {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
        if (!error)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void WaitForEndOfInput() {
    char buffer[256];
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR))
            return;
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, &options))
        return Usage();
    int serverfd = -1;
    if (options.pid != 0) {
        serverfd = PidfdOpen(options.pid);
        if (serverfd < 0) {
            std::fprintf(stderr, "krepiks-test-reaper: no process %d: %s\n", options.pid,
                         std::strerror(errno));
            return 1;
        }
    }
    // Whatever reaches the starter's terminal or group must not end the clean-up.
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    const pid_t middle = fork();
    if (middle < 0)
        return 1;
    if (middle > 0) {
        int status = 0;
        while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    if (setsid() < 0)
        _exit(1);
    const pid_t detached = fork();
    if (detached != 0)
        _exit(detached > 0 ? 0 : 1);

    // The starter's output, or any other file it let this program inherit, may be a pipe that
    // someone reads to its end: only the input and the server stay open.
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    if (serverfd >= 0) {
        if (serverfd > STDERR_FILENO + 1)
            close_range(STDERR_FILENO + 1, serverfd - 1, 0);
        close_range(serverfd + 1, ~0U, 0);
    } else {
        close_range(STDERR_FILENO + 1, ~0U, 0);
    }
    if (chdir("/") != 0)
        return 1;

    WaitForEndOfInput();
    if (serverfd >= 0)
        End(serverfd, options.signal);
    if (!options.pidFile.empty()) {
        const int pidfd = PidFileServer(options.pidFile);
        if (pidfd >= 0)
            End(pidfd, options.signal);
    }
    if (!options.folder.empty())
        Remove(options.folder);
    return 0;
}
