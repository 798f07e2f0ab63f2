#include "automation/bus/peer_folder.h"

#include <QDir>
#include <QFile>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace automation::bus::server {

namespace {

// A value in a D-Bus address: bytes outside the few allowed ones are written as %XX.
QString AddressValue(const QString& text) {
    QString out;
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || std::strchr("-_/.\\*", c))
            out += QLatin1Char(c);
        else
            out += QLatin1Char('%') + QStringLiteral("%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

// Folders of direct connections are named after the server's process id, so that those of
// a server that was killed can be told and removed by the next one.
constexpr char PeerFolderPrefix[] = "krepiks-automation-";
constexpr char PeerSocketName[] = "peer";

} // namespace

void RemovePeerFolder(const QString& path) {
    QFile::remove(path + QLatin1Char('/') + QLatin1String(PeerSocketName));
    QDir().rmdir(path);
}

namespace {

// The folder another user (or a stray link) shares the runtime folder with is never followed:
// only a real folder of this user's, private as a server makes it, counts as one that a server
// left behind, and only its socket is removed from it.
void RemoveEndedServerFolder(int baseFd, const char* name) {
    struct stat entry {};
    if (::fstatat(baseFd, name, &entry, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(entry.st_mode) ||
        entry.st_uid != ::getuid() || (entry.st_mode & 077) != 0)
        return;
    const int folder = ::openat(baseFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    struct stat opened {};
    // The same folder that was looked at, not one swapped in between.
    if (::fstat(folder, &opened) == 0 && opened.st_dev == entry.st_dev &&
        opened.st_ino == entry.st_ino) {
        struct stat socket {};
        if (::fstatat(folder, PeerSocketName, &socket, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISSOCK(socket.st_mode))
            ::unlinkat(folder, PeerSocketName, 0);
        ::unlinkat(baseFd, name, AT_REMOVEDIR); // only once empty: anything else stays
    }
    ::close(folder);
}

void RemoveFoldersOfEndedServers(const QString& base) {
    const int baseFd =
        ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0)
        return;
    const QStringList folders =
        QDir(base).entryList({QLatin1String(PeerFolderPrefix) + QLatin1Char('*')},
                             QDir::Dirs | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
    for (const QString& folder : folders) {
        bool number = false;
        const qint64 pid = folder.mid(int(std::strlen(PeerFolderPrefix)))
                               .section(QLatin1Char('-'), 0, 0)
                               .toLongLong(&number);
        if (number && pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            RemoveEndedServerFolder(baseFd, QFile::encodeName(folder).constData());
    }
    ::close(baseFd);
}

} // namespace

std::unique_ptr<QTemporaryDir> MakePeerFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString base = !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QDir::tempPath();
    RemoveFoldersOfEndedServers(base);
    auto folder = std::make_unique<QTemporaryDir>(
        base + QStringLiteral("/%1%2-XXXXXX").arg(QLatin1String(PeerFolderPrefix)).arg(::getpid()));
    if (!folder->isValid())
        return nullptr;
    // The connection's end removes the socket, on the bus layer's own thread: the folder
    // goes only after that (see LocalServer's end).
    folder->setAutoRemove(false);
    // mkdtemp made it for this user alone; say so in case the umask was unusual.
    QFile::setPermissions(folder->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

QString PeerSocketAddress(const QTemporaryDir& folder) {
    return QStringLiteral("unix:path=") +
           AddressValue(folder.filePath(QLatin1String(PeerSocketName)));
}

} // namespace automation::bus::server
