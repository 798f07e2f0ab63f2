#include "export/export_workers.h"

#include <QByteArray>
#include <QList>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krepiks::exporting {

namespace {

int stopPipe[2] = {-1, -1};
volatile sig_atomic_t stopSignal = 0;

void onStop(int signal) {
    stopSignal = signal;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// A result as one line: volume, one letter per file, the reason without line breaks.
QByteArray encode(const VariantResult& result) {
    char volume[64];
    const auto written = std::to_chars(volume, volume + sizeof volume, result.volume);
    QByteArray line(volume, written.ptr - volume);
    line += '\t';
    for (const FileOutcome outcome : result.files)
        line += static_cast<char>(outcome);
    line += '\t';
    QByteArray error = result.error.toUtf8();
    error.replace('\n', ' ').replace('\r', ' ').replace('\t', ' ');
    return line + error + '\n';
}

VariantResult decode(const QByteArray& line) {
    VariantResult result;
    const QList<QByteArray> parts = line.split('\t');
    if (parts.size() < 3)
        return {{}, NAN, QStringLiteral("ответ рабочего процесса не прочитан")};
    double volume = NAN;
    std::from_chars(parts[0].constData(), parts[0].constData() + parts[0].size(), volume);
    result.volume = volume;
    for (const char c : parts[1])
        result.files.push_back(static_cast<FileOutcome>(c));
    result.error = QString::fromUtf8(parts.mid(2).join('\t'));
    return result;
}

struct Worker {
    pid_t pid = -1;
    int jobs = -1;    // the worker reads job numbers here
    int results = -1; // and answers here
    long job = -1;    // the job it has, or -1
    QByteArray answer;
};

[[noreturn]] void serve(int jobs, int results, const std::vector<VariantJob>& all,
                        const JobWork& work) {
    QByteArray pending;
    char buffer[64];
    for (;;) {
        const qsizetype newline = pending.indexOf('\n');
        if (newline >= 0) {
            const std::size_t job = pending.left(newline).toULongLong();
            pending.remove(0, newline + 1);
            if (!writeAll(results, encode(work(all[job]))))
                ::_exit(1);
            continue;
        }
        const ssize_t n = ::read(jobs, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ::_exit(0); // the run has no more for it, or has gone
        pending.append(buffer, n);
    }
}

bool start(Worker& worker, const std::vector<Worker>& others, const std::vector<VariantJob>& all,
           const JobWork& work) {
    int toWorker[2], fromWorker[2];
    if (::pipe2(toWorker, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(fromWorker, O_CLOEXEC) != 0) {
        ::close(toWorker[0]);
        ::close(toWorker[1]);
        return false;
    }
    const pid_t run = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A worker ends with the run, however the run ends; Ctrl-C is the run's to handle.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != run)
            ::_exit(1);
        std::signal(SIGINT, SIG_IGN);
        // The kernel's writers report on standard output, which is the run's progress.
        if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0)
            ::dup2(null, STDOUT_FILENO);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        ::close(toWorker[1]);
        ::close(fromWorker[0]);
        ::close(stopPipe[0]);
        ::close(stopPipe[1]);
        for (const Worker& other : others) {
            if (other.pid > 0 && other.jobs >= 0) {
                ::close(other.jobs);
                ::close(other.results);
            }
        }
        serve(toWorker[0], fromWorker[1], all, work);
    }
    ::close(toWorker[0]);
    ::close(fromWorker[1]);
    if (pid < 0) {
        ::close(toWorker[1]);
        ::close(fromWorker[0]);
        return false;
    }
    worker = {pid, toWorker[1], fromWorker[0], -1, {}};
    return true;
}

void finish(Worker& worker, int signal) {
    if (worker.pid <= 0)
        return;
    if (signal)
        ::kill(worker.pid, signal);
    ::close(worker.jobs);
    ::close(worker.results);
    while (::waitpid(worker.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    worker = {};
}

} // namespace

bool RunInWorkers(const std::vector<VariantJob>& jobs, const std::vector<std::size_t>& pending,
                  int count, const JobWork& work, const JobDone& done) {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    struct sigaction previous[3];
    const int stops[] = {SIGINT, SIGTERM, SIGHUP};
    for (int i = 0; i < 3; ++i)
        sigaction(stops[i], &action, &previous[i]);
    std::signal(SIGPIPE, SIG_IGN);

    std::size_t next = 0, ended = 0;
    std::vector<Worker> workers(
        static_cast<std::size_t>(std::max(1, std::min<int>(count, pending.size()))));
    const auto give = [&](Worker& worker) {
        if (next >= pending.size()) {
            finish(worker, 0); // no more: its job pipe closes and it ends
            return;
        }
        if (worker.pid <= 0 && !start(worker, workers, jobs, work)) {
            done(pending[next],
                 {std::vector<FileOutcome>(jobs[pending[next]].formats.size(), FileOutcome::Failed),
                  NAN, QStringLiteral("не запустился ни один рабочий процесс")});
            ++next;
            ++ended;
            return;
        }
        worker.job = static_cast<long>(pending[next++]);
        if (!writeAll(worker.jobs, QByteArray::number(worker.job) + '\n'))
            ::kill(worker.pid, SIGKILL); // its answer's end tells the rest
    };
    for (Worker& worker : workers)
        give(worker);

    bool stopped = false;
    while (ended < pending.size() && !stopped) {
        std::vector<pollfd> fds{{stopPipe[0], POLLIN, 0}};
        std::vector<Worker*> polled;
        for (Worker& worker : workers)
            if (worker.pid > 0) {
                fds.push_back({worker.results, POLLIN, 0});
                polled.push_back(&worker);
            }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (stopSignal || fds[0].revents) {
            stopped = true;
            break;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            if (!fds[i + 1].revents)
                continue;
            Worker& worker = *polled[i];
            char buffer[4096];
            const ssize_t n = ::read(worker.results, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // The worker died with its variant: that one fails, the others go on.
                int status = 0;
                const pid_t pid = worker.pid;
                ::close(worker.jobs);
                ::close(worker.results);
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
                const long job = worker.job;
                worker = {};
                if (job >= 0) {
                    const QString how =
                        WIFSIGNALED(status)
                            ? QStringLiteral("сигнал %1").arg(WTERMSIG(status))
                            : QStringLiteral("код выхода %1").arg(WEXITSTATUS(status));
                    done(static_cast<std::size_t>(job),
                         {std::vector<FileOutcome>(jobs[job].formats.size(), FileOutcome::Failed),
                          NAN,
                          QStringLiteral("рабочий процесс, строивший его, завершился (%1)")
                              .arg(how)});
                    ++ended;
                    give(worker);
                }
                continue;
            }
            worker.answer.append(buffer, n);
            const qsizetype newline = worker.answer.indexOf('\n');
            if (newline < 0)
                continue;
            const VariantResult result = decode(worker.answer.left(newline));
            worker.answer.remove(0, newline + 1);
            const auto job = static_cast<std::size_t>(worker.job);
            worker.job = -1;
            done(job, result);
            ++ended;
            give(worker);
        }
    }
    for (Worker& worker : workers)
        finish(worker, stopped ? SIGKILL : 0);
    for (int i = 0; i < 3; ++i)
        sigaction(stops[i], &previous[i], nullptr);
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    return !stopped;
}

} // namespace krepiks::exporting
