#include "automation/bus/local_server.h"

#include "automation/automation.h"
#include "automation/bus/protocol.h"
#include "automation/dispatch_object.h"
#include "automation/invoke.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServer>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace automation::bus {

namespace {

// A short question to the bus itself; also proves that what was sent before it has left.
bool NameHasOwner(const QDBusConnection& connection, const QString& name) {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << name;
    const QDBusMessage reply = connection.call(ask, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().toBool();
}

// The same for a client on a direct connection: every peer answers Ping by itself.
void PingPeer(const QDBusConnection& connection) {
    QDBusMessage ping = QDBusMessage::createMethodCall(QString(), QStringLiteral("/"),
                                                       QStringLiteral("org.freedesktop.DBus.Peer"),
                                                       QStringLiteral("Ping"));
    connection.call(ping, QDBus::Block, 1000);
}

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

void RemovePeerFolder(const QString& path) {
    QFile::remove(path + QLatin1Char('/') + QLatin1String(PeerSocketName));
    QDir().rmdir(path);
}

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

// Clients on a direct connection are named by it; bus clients by their unique names, which
// start with ':'.
constexpr char PeerClientPrefix[] = "peer:";

const char* const IntrospectionXml = R"(  <interface name="org.krepiks.Automation">
    <method name="CreateInstance">
      <arg direction="out" type="i" name="hr"/><arg direction="out" type="t" name="handle"/>
    </method>
    <method name="GetActiveObject">
      <arg direction="out" type="i" name="hr"/><arg direction="out" type="t" name="handle"/>
    </method>
    <method name="PeerAddress">
      <arg direction="out" type="s" name="address"/>
    </method>
    <method name="GetIDsOfNames">
      <arg direction="in" type="t" name="handle"/><arg direction="in" type="s" name="name"/>
      <arg direction="in" type="u" name="lcid"/>
      <arg direction="out" type="i" name="hr"/><arg direction="out" type="i" name="dispid"/>
      <arg direction="out" type="aq" name="parameterFlags"/>
    </method>
    <method name="InvokeAs">
      <arg direction="in" type="t" name="handle"/><arg direction="in" type="s" name="name"/>
      <arg direction="in" type="i" name="dispid"/>
      <arg direction="in" type="u" name="lcid"/><arg direction="in" type="q" name="flags"/>
      <arg direction="in" type="b" name="wantResult"/><arg direction="in" type="t" name="promise"/>
      <arg direction="in" type="aq" name="types"/><arg direction="in" type="ax" name="numbers"/>
      <arg direction="in" type="ad" name="reals"/><arg direction="in" type="aq" name="text"/>
      <arg direction="in" type="ai" name="namedArgs"/>
      <arg direction="out" type="i" name="hr"/>
      <arg direction="out" type="aq" name="types"/><arg direction="out" type="ax" name="numbers"/>
      <arg direction="out" type="ad" name="reals"/><arg direction="out" type="aq" name="text"/>
      <arg direction="out" type="q" name="wCode"/><arg direction="out" type="s" name="source"/>
      <arg direction="out" type="s" name="description"/><arg direction="out" type="i" name="scode"/>
      <arg direction="out" type="u" name="argErr"/>
    </method>
    <method name="PostRun">
      <arg direction="in" type="at" name="handles"/><arg direction="in" type="as" name="names"/>
      <arg direction="in" type="ai" name="dispids"/><arg direction="in" type="au" name="lcids"/>
      <arg direction="in" type="aq" name="flags"/><arg direction="in" type="ab" name="wantResults"/>
      <arg direction="in" type="at" name="promises"/><arg direction="in" type="au" name="valueCounts"/>
      <arg direction="in" type="aq" name="types"/><arg direction="in" type="ax" name="numbers"/>
      <arg direction="in" type="ad" name="reals"/><arg direction="in" type="aq" name="text"/>
      <arg direction="in" type="au" name="namedCounts"/><arg direction="in" type="ai" name="namedArgs"/>
      <arg direction="in" type="at" name="releases"/><arg direction="in" type="at" name="releaseCounts"/>
      <arg direction="in" type="b" name="awaited"/>
      <arg direction="out" type="ai" name="hrs"/>
      <arg direction="out" type="aq" name="types"/><arg direction="out" type="ax" name="numbers"/>
      <arg direction="out" type="ad" name="reals"/><arg direction="out" type="aq" name="text"/>
      <arg direction="out" type="q" name="wCode"/><arg direction="out" type="s" name="source"/>
      <arg direction="out" type="s" name="description"/><arg direction="out" type="i" name="scode"/>
    </method>
    <method name="Resume">
      <annotation name="org.freedesktop.DBus.Method.NoReply" value="true"/>
    </method>
    <method name="Release">
      <arg direction="in" type="t" name="handle"/><arg direction="in" type="t" name="count"/>
      <annotation name="org.freedesktop.DBus.Method.NoReply" value="true"/>
    </method>
  </interface>
)";

} // namespace

void ReportStartFailure(const std::string& why) {
    const QByteArray path = qgetenv(StartReportVariable);
    if (path.isEmpty())
        return;
    // The client made the file in a folder of its own; a name that is not that file is left.
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    const std::string line = why + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

namespace {

int TerminationPipe[2] = {-1, -1};

void OnTermination(int) {
    const char signalled = 1;
    [[maybe_unused]] const ssize_t written = ::write(TerminationPipe[1], &signalled, 1);
}

} // namespace

void QuitOnTermination() {
    if (TerminationPipe[0] >= 0 || !QCoreApplication::instance() ||
        ::pipe2(TerminationPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // The handler only writes a byte; the event loop does the rest, where anything may run.
    auto* notifier = new QSocketNotifier(TerminationPipe[0], QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

class LocalServer::Impl : public QDBusVirtualObject {
public:
    explicit Impl(std::u16string progId)
        : progId_(std::move(progId)), busName_(BusNameForProgId(progId_)),
          connection_(QDBusConnection::sessionBus()) {
        RegisterWireTypes();
        watcher_.setConnection(connection_);
        watcher_.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        QObject::connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                         [this](const QString& name) { dropClient(name); });
        peerCheck_.setInterval(200);
        QObject::connect(&peerCheck_, &QTimer::timeout, this, [this] { dropLeftPeers(); });
        busCheck_.setInterval(1000);
        QObject::connect(&busCheck_, &QTimer::timeout, this, [this] {
            if (connection_.isConnected())
                return;
            busCheck_.stop();
            if (onBusLost_)
                onBusLost_();
        });
    }

    ~Impl() override {
        busCheck_.stop();
        peerCheck_.stop();
        withdraw();
        if (registered_)
            connection_.unregisterObject(QString::fromLatin1(ObjectPath));
        for (const auto& [client, name] : peers_)
            QDBusConnection(name).unregisterObject(QString::fromLatin1(ObjectPath));
        std::map<QString, ClientTable> dropped;
        dropped.swap(clients_);
        dropped.clear(); // objects' destructors may look at this server; it is still whole
        if (connection_.isConnected())
            NameHasOwner(connection_, busName_);
        for (const auto& [client, name] : peers_) {
            const QDBusConnection peer(name);
            if (peer.isConnected())
                PingPeer(peer);
            QDBusConnection::disconnectFromPeer(name);
        }
        peerServer_.reset();
        if (peerFolder_)
            RemovePeerFolder(peerFolder_->path());
    }

    bool start(std::string* error) {
        const auto fail = [&](const QString& why) {
            if (error)
                *error = why.toStdString();
            return false;
        };
        if (!connection_.isConnected())
            return fail(QStringLiteral("no session bus: ") + connection_.lastError().message());
        if (!registered_) {
            registered_ = connection_.registerVirtualObject(QString::fromLatin1(ObjectPath), this,
                                                            QDBusConnection::SingleNode);
            if (!registered_)
                return fail(QStringLiteral("cannot register the automation object"));
        }
        listenForPeers();
        // The object answers before the name appears, so a client that sees the name can call.
        if (!claimed_) {
            claimed_ = connection_.registerService(busName_);
            if (!claimed_)
                return fail(nameTakenReason());
        }
        busCheck_.start();
        // Served: what this program starts later has no client's start to report on.
        qunsetenv(StartReportVariable);
        return true;
    }

    // The bus says only that the name was not granted; who holds it is the useful part.
    QString nameTakenReason() const {
        QString why = connection_.lastError().message();
        if (why.isEmpty()) {
            const auto owner = connection_.interface()->servicePid(busName_);
            why = owner.isValid() && owner.value() > 0
                      ? QStringLiteral("another program serves it (process %1)").arg(owner.value())
                      : QStringLiteral("another program serves it");
        }
        return QStringLiteral("the bus name %1 is taken: %2").arg(busName_, why);
    }

    void withdraw() {
        if (claimed_) {
            claimed_ = false;
            connection_.unregisterService(busName_);
        }
    }

    QString introspect(const QString&) const override {
        return QString::fromLatin1(IntrospectionXml);
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String(Interface))
            return false;
        const QString member = message.member();
        const QString signature = message.signature();
        const QString client = message.service().isEmpty()
                                   ? QLatin1String(PeerClientPrefix) + connection.name()
                                   : message.service();
        const QList<QVariant> args = message.arguments();
        if (member == QLatin1String("Release") && signature == QLatin1String("tt")) {
            release(client, args[0].toULongLong(), args[1].toULongLong());
            if (afterCall_)
                afterCall_();
            return true;
        }
        if (member == QLatin1String("Resume") && signature.isEmpty()) {
            halted_.erase(client);
            return true;
        }
        const bool lookup = member == QLatin1String("GetIDsOfNames");
        const bool invoked = member == QLatin1String("InvokeAs");
        QList<QVariant> out;
        if (member == QLatin1String("PostRun") &&
            signature == QLatin1String("atasaiauaqabatauaqaxadaqauaiatatb"))
            out = postRun(client, args);
        else if (halted_.count(client) && (lookup || invoked))
            out = skipped(lookup);
        else if (member == QLatin1String("CreateInstance") && signature.isEmpty())
            out = createInstance(client, false);
        else if (member == QLatin1String("GetActiveObject") && signature.isEmpty())
            out = createInstance(client, true);
        else if (member == QLatin1String("PeerAddress") && signature.isEmpty())
            out = {peerServer_ ? peerServer_->address() : QString()};
        else if (lookup && signature == QLatin1String("tsu"))
            out = getIDsOfNames(client, args);
        else if (invoked && signature == QLatin1String("tsiuqbtaqaxadaqai"))
            out = invokeAs(client, args);
        else
            return false; // the bus layer answers with its "unknown method" error
        if (afterCall_)
            afterCall_();
        if (out.isEmpty()) {
            connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                                     QStringLiteral("malformed arguments")));
        } else if (message.isReplyRequired()) {
            connection.send(message.createReply(out));
        }
        return true;
    }

    size_t clientCount() const { return clients_.size(); }
    size_t handleCount() const {
        size_t n = 0;
        for (const auto& [name, table] : clients_)
            n += table.handles.size();
        return n;
    }

    std::u16string progId_;
    QString busName_;
    std::function<void()> onBusLost_;
    std::function<void()> afterCall_;

private:
    struct Held {
        DispatchPtr object;
        uint64_t count = 0;
    };
    struct ClientTable {
        std::map<uint64_t, Held> handles;
        std::map<const IDispatch*, uint64_t> byObject;
        // The client's names for results it did not wait for: a handle, or 0 for no object.
        std::map<uint64_t, uint64_t> promises;
    };

    // The client's table, made (and its departure watched) on first need; null when the
    // client has already left the bus.
    ClientTable* tableFor(const QString& client, bool make) {
        if (auto it = clients_.find(client); it != clients_.end())
            return &it->second;
        if (!make || client.isEmpty() || gone_.count(client))
            return nullptr;
        if (client.startsWith(QLatin1String(PeerClientPrefix))) {
            const auto peer = peers_.find(client);
            if (peer == peers_.end() || !QDBusConnection(peer->second).isConnected())
                return nullptr;
            return &clients_[client];
        }
        watcher_.addWatchedService(client);
        // It may have left before the watch was in place; unique names never come back.
        if (!NameHasOwner(connection_, client)) {
            watcher_.removeWatchedService(client);
            gone_.insert(client);
            return nullptr;
        }
        return &clients_[client];
    }

    uint64_t share(const QString& client, const DispatchPtr& object) {
        if (!object)
            return 0;
        ClientTable* table = tableFor(client, true);
        if (!table)
            return 0;
        if (auto it = table->byObject.find(object.get()); it != table->byObject.end()) {
            ++table->handles[it->second].count;
            return it->second;
        }
        const uint64_t handle = (classOf(object.get()) << HandleClassShift) | nextHandle_++;
        table->handles[handle] = Held{object, 1};
        table->byObject[object.get()] = handle;
        return handle;
    }

    // Objects made on DispatchObject number their members by their member table, so two
    // with the same table share their numbers and clients may keep them per class.
    uint64_t classOf(IDispatch* object) {
        const auto* declared = dynamic_cast<const DispatchObject*>(object);
        if (!declared)
            return NoHandleClass;
        // Clients keep each member's type information per class too: it is part of the key.
        std::vector<std::u16string> key = declared->names();
        const size_t members = key.size();
        for (size_t i = 0; i < members; ++i) {
            const std::vector<uint16_t>* flags =
                declared->parameterFlags(static_cast<DISPID>(i + 1));
            std::u16string declaredFlags = flags ? u"+" : u"-";
            if (flags)
                for (const uint16_t flag : *flags)
                    declaredFlags += static_cast<char16_t>(u'0' + (flag & 0xFF));
            key.push_back(std::move(declaredFlags));
        }
        const auto [it, added] = classes_.try_emplace(std::move(key), classes_.size() + 1);
        if (it->second > MaxHandleClass) {
            classes_.erase(it);
            return NoHandleClass;
        }
        return it->second;
    }

    // False for a handle this client does not hold; handle 0 is no object.
    bool resolve(const QString& client, uint64_t handle, DispatchPtr* object) {
        *object = nullptr;
        if (handle == 0)
            return true;
        ClientTable* table = tableFor(client, false);
        if (!table)
            return false;
        if (handle & PromiseHandleBit) {
            const auto promise = table->promises.find(handle);
            if (promise == table->promises.end())
                return false;
            if (promise->second == 0)
                return true; // a result that was no object
            handle = promise->second;
        }
        const auto it = table->handles.find(handle);
        if (it == table->handles.end())
            return false;
        *object = it->second.object;
        return true;
    }

    void release(const QString& client, uint64_t handle, uint64_t count) {
        ClientTable* table = tableFor(client, false);
        if (!table)
            return;
        if (handle & PromiseHandleBit) {
            table->promises.erase(handle);
            if (table->handles.empty() && table->promises.empty())
                forget(client);
            return;
        }
        const auto it = table->handles.find(handle);
        if (it == table->handles.end())
            return;
        if (count < it->second.count) {
            it->second.count -= count;
            return;
        }
        const DispatchPtr dropped = std::move(it->second.object); // released after the erase
        table->byObject.erase(dropped.get());
        table->handles.erase(it);
        if (table->handles.empty() && table->promises.empty())
            forget(client);
    }

    // A table with nothing in it is not kept, but its client stays watched while known.
    void forget(const QString& client) {
        watcher_.removeWatchedService(client);
        std::map<QString, ClientTable> dropped;
        if (auto it = clients_.find(client); it != clients_.end())
            dropped.insert(clients_.extract(it));
    }

    // A socket that only this user can reach: calls on it skip the bus daemon's two hops.
    // Clients that cannot use it stay on the bus.
    void listenForPeers() {
        if (peerServer_)
            return;
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        const QString base =
            !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QDir::tempPath();
        RemoveFoldersOfEndedServers(base);
        auto folder = std::make_unique<QTemporaryDir>(
            base +
            QStringLiteral("/%1%2-XXXXXX").arg(QLatin1String(PeerFolderPrefix)).arg(::getpid()));
        if (!folder->isValid())
            return;
        // The connection's end removes the socket, on the bus layer's own thread: the folder
        // goes only after that (see ~Impl).
        folder->setAutoRemove(false);
        // mkdtemp made it for this user alone; say so in case the umask was unusual.
        QFile::setPermissions(folder->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
        auto server = std::make_unique<QDBusServer>(
            QStringLiteral("unix:path=") +
            AddressValue(folder->filePath(QLatin1String(PeerSocketName))));
        if (!server->isConnected()) {
            server.reset();
            RemovePeerFolder(folder->path());
            return;
        }
        QObject::connect(server.get(), &QDBusServer::newConnection, this,
                         [this](const QDBusConnection& peer) { acceptPeer(peer); });
        peerFolder_ = std::move(folder);
        peerServer_ = std::move(server);
    }

    void acceptPeer(const QDBusConnection& peer) {
        QDBusConnection connection(peer);
        if (!connection.registerVirtualObject(QString::fromLatin1(ObjectPath), this,
                                              QDBusConnection::SingleNode)) {
            QDBusConnection::disconnectFromPeer(connection.name());
            return;
        }
        peers_[QLatin1String(PeerClientPrefix) + connection.name()] = connection.name();
        peerCheck_.start();
    }

    // A direct connection has no bus to announce that its client left: it is looked at.
    void dropLeftPeers() {
        for (auto it = peers_.begin(); it != peers_.end();) {
            if (QDBusConnection(it->second).isConnected()) {
                ++it;
                continue;
            }
            const QString client = it->first, name = it->second;
            it = peers_.erase(it);
            halted_.erase(client);
            forget(client);
            QDBusConnection::disconnectFromPeer(name);
        }
        if (peers_.empty())
            peerCheck_.stop();
    }

    void dropClient(const QString& client) {
        halted_.erase(client);
        if (client.startsWith(QLatin1Char(':')))
            gone_.insert(client);
        forget(client);
    }

    QList<QVariant> createInstance(const QString& client, bool running) {
        CLSID clsid;
        DispatchPtr object;
        HRESULT h = CLSIDFromProgID(progId_, &clsid);
        if (SUCCEEDED(h))
            h = running ? GetActiveObject(clsid, nullptr, object.put())
                        : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, object.put());
        if (SUCCEEDED(h) && !object)
            h = E_NOINTERFACE;
        uint64_t handle = 0;
        if (SUCCEEDED(h)) {
            handle = share(client, object);
            if (handle == 0)
                h = RPC_E_DISCONNECTED; // the client left while the object was being made
        }
        return {QVariant::fromValue<qint32>(h), QVariant::fromValue<quint64>(handle)};
    }

    QList<QVariant> getIDsOfNames(const QString& client, const QList<QVariant>& args) {
        DispatchPtr target;
        HRESULT h = RPC_E_DISCONNECTED;
        DISPID dispid = DISPID_UNKNOWN;
        QList<quint16> parameterFlags;
        if (resolve(client, args[0].toULongLong(), &target) && target)
            h = target->GetIDsOfNames(args[1].toString().toStdU16String(), args[2].toUInt(),
                                      &dispid);
        if (h == S_OK)
            if (const auto* declared = dynamic_cast<const DispatchObject*>(target.get()))
                if (const std::vector<uint16_t>* flags = declared->parameterFlags(dispid))
                    parameterFlags = QList<quint16>(flags->begin(), flags->end());
        return {QVariant::fromValue<qint32>(h), QVariant::fromValue<qint32>(dispid),
                QVariant::fromValue(parameterFlags)};
    }

    static QList<QVariant> skipped(bool lookup) {
        if (lookup)
            return {QVariant::fromValue<qint32>(E_SKIPPED), QVariant::fromValue<qint32>(0),
                    QVariant::fromValue(QList<quint16>{})};
        Outcome outcome;
        outcome.h = E_SKIPPED;
        outcome.outs.append(WireValue{});
        return invokeReply(outcome);
    }

    // What one call came to: outs holds the result, then each argument's value as it came
    // back (empty when the call never reached the object).
    struct Outcome {
        HRESULT h = S_OK;
        WireValue result;
        WireValues outs;
        EXCEPINFO info;
        uint32_t argErr = NoArgError;
    };

    static QList<QVariant> invokeReply(const Outcome& outcome) {
        QList<QVariant> out{QVariant::fromValue<qint32>(outcome.h)};
        outcome.outs.appendTo(out);
        out << QVariant::fromValue<quint16>(outcome.info.wCode)
            << QString::fromStdU16String(outcome.info.bstrSource)
            << QString::fromStdU16String(outcome.info.bstrDescription)
            << QVariant::fromValue<qint32>(outcome.info.scode)
            << QVariant::fromValue<quint32>(outcome.argErr);
        return out;
    }

    static bool ValidPromise(uint64_t promise) {
        return promise == 0 || (promise & PromiseHandleBit);
    }

    // One call on the client's object handle: by name when name is not empty.
    Outcome invoke(const QString& client, uint64_t handle, const QString& name, DISPID dispid,
                   LCID lcid, uint16_t flags, bool wantResult, uint64_t promise,
                   const std::vector<WireValue>& wire, const QList<qint32>& named,
                   bool posted = false, bool awaited = true) {
        Outcome outcome;
        const auto fail = [&](HRESULT h, uint32_t argErr = NoArgError) {
            outcome.h = h;
            outcome.argErr = argErr;
            return outcome;
        };
        DispatchPtr target;
        if (!resolve(client, handle, &target))
            return fail(RPC_E_DISCONNECTED);
        if (!target)
            return fail((handle & PromiseHandleBit) ? E_NOOBJECT : RPC_E_DISCONNECTED);
        if (!name.isEmpty()) {
            const HRESULT found = target->GetIDsOfNames(name.toStdU16String(), lcid, &dispid);
            if (FAILED(found))
                return fail(found);
        }

        // By-reference values point into these; sized once so that no pointer moves.
        const size_t n = wire.size();
        std::vector<double> reals(n, 0.0);
        std::vector<IDispatch*> cells(n, nullptr);
        std::vector<DispatchPtr> sent(n); // what each object cell held going in
        const auto refuse = [&](size_t at, HRESULT h = RPC_E_DISCONNECTED) {
            for (IDispatch*& cell : cells)
                DispatchPtr::attach(std::exchange(cell, nullptr)).reset();
            return fail(h, static_cast<uint32_t>(at));
        };
        DISPPARAMS params;
        params.rgdispidNamedArgs.assign(named.begin(), named.end());
        for (size_t i = 0; i < n; ++i) {
            const WireValue& v = wire[i];
            Variant arg;
            switch (v.type) {
            case VT_I4:
                arg = Variant::fromInt(static_cast<int32_t>(v.number));
                break;
            case VT_R8:
                arg = Variant::fromDouble(v.real);
                break;
            case VT_CY:
                arg = Variant::fromCurrency(CY{v.number});
                break;
            case VT_BOOL:
                arg = Variant::fromBool(v.number != 0);
                break;
            case VT_BSTR:
                arg = Variant::fromBStr(v.text);
                break;
            case VT_DISPATCH: {
                DispatchPtr object;
                if (!resolve(client, static_cast<uint64_t>(v.number), &object))
                    return refuse(i);
                arg = Variant::fromDispatch(std::move(object));
                break;
            }
            case VT_BYREF | VT_R8:
                reals[i] = v.real;
                arg = Variant::byRefDouble(&reals[i]);
                break;
            case VT_BYREF | VT_DISPATCH:
                if (!resolve(client, static_cast<uint64_t>(v.number), &sent[i]))
                    return refuse(i);
                // The cell owns what it holds: a callee that replaces it releases this one.
                cells[i] = DispatchPtr(sent[i]).detach();
                arg = Variant::byRefDispatch(&cells[i]);
                break;
            default:
                break;
            }
            params.rgvarg.push_back(std::move(arg));
        }

        // The client of a posted call does not wait for what comes back by reference: it
        // counted on the member's type information saying that nothing does.
        if (posted) {
            const auto* declared = dynamic_cast<const DispatchObject*>(target.get());
            const std::vector<uint16_t>* parameterFlags =
                declared ? declared->parameterFlags(dispid) : nullptr;
            for (size_t i = 0; i < n; ++i)
                if ((wire[i].type & VT_BYREF) &&
                    (!parameterFlags || !ReferencesOnlyRead(*parameterFlags, params)))
                    return refuse(i, DISP_E_TYPEMISMATCH);
        }

        Variant result;
        EXCEPINFO info;
        uint32_t argErr = NoArgError;
        HRESULT h;
        std::optional<UnawaitedCall> unawaited;
        if (!awaited)
            unawaited.emplace();
        try {
            h = target->Invoke(dispid, lcid, flags, &params, wantResult ? &result : nullptr, &info,
                               &argErr);
        } catch (...) {
            h = RPC_E_SERVERFAULT;
        }

        outcome.result = toWire(client, result);
        outcome.outs.append(outcome.result);
        for (size_t i = 0; i < n; ++i) {
            WireValue back;
            if (wire[i].type == (VT_BYREF | VT_R8)) {
                back.type = VT_BYREF | VT_R8;
                back.real = reals[i];
            } else if (wire[i].type == (VT_BYREF | VT_DISPATCH)) {
                const DispatchPtr now = DispatchPtr::attach(cells[i]);
                if (now.get() != sent[i].get()) {
                    back.type = VT_BYREF | VT_DISPATCH;
                    back.number = static_cast<int64_t>(share(client, now));
                }
            }
            outcome.outs.append(back);
        }
        if (promise != 0 && SUCCEEDED(h)) {
            if (ClientTable* table = tableFor(client, false))
                table->promises[promise] = outcome.result.type == VT_DISPATCH
                                               ? static_cast<uint64_t>(outcome.result.number)
                                               : 0;
        }
        outcome.h = h;
        outcome.argErr = argErr;
        if (h == DISP_E_EXCEPTION)
            outcome.info = info;
        return outcome;
    }

    QList<QVariant> invokeAs(const QString& client, const QList<QVariant>& args) {
        std::vector<WireValue> wire;
        const uint64_t promise = args[6].toULongLong();
        if (!ReadWireValues(args, 7, &wire) || !ValidPromise(promise))
            return {};
        return invokeReply(invoke(client, args[0].toULongLong(), args[1].toString(),
                                  args[2].toInt(), args[3].toUInt(),
                                  static_cast<uint16_t>(args[4].toUInt()), args[5].toBool(),
                                  promise, wire, qdbus_cast<QList<qint32>>(args[11])));
    }

    // A run of posted calls, carried out in order in one go. Once one fails (or had failed
    // before) the rest answer E_SKIPPED: the client sent them assuming it went through.
    // Nothing runs when any part of the run is malformed. Only the last call of a run the
    // client waits on is served as a waited call: the client goes on from the others.
    QList<QVariant> postRun(const QString& client, const QList<QVariant>& args) {
        const auto handles = qdbus_cast<QList<quint64>>(args[0]);
        const auto names = qdbus_cast<QStringList>(args[1]);
        const auto dispids = qdbus_cast<QList<qint32>>(args[2]);
        const auto lcids = qdbus_cast<QList<quint32>>(args[3]);
        const auto flags = qdbus_cast<QList<quint16>>(args[4]);
        const auto wantResults = qdbus_cast<QList<bool>>(args[5]);
        const auto promises = qdbus_cast<QList<quint64>>(args[6]);
        const auto valueCounts = qdbus_cast<QList<quint32>>(args[7]);
        const auto namedCounts = qdbus_cast<QList<quint32>>(args[12]);
        const auto named = qdbus_cast<QList<qint32>>(args[13]);
        const auto releases = qdbus_cast<QList<quint64>>(args[14]);
        const auto releaseCounts = qdbus_cast<QList<quint64>>(args[15]);
        const bool awaited = args[16].toBool();
        const qsizetype calls = handles.size();
        if (names.size() != calls || dispids.size() != calls || lcids.size() != calls ||
            flags.size() != calls || wantResults.size() != calls || promises.size() != calls ||
            valueCounts.size() != calls || namedCounts.size() != calls ||
            releases.size() != releaseCounts.size())
            return {};
        std::vector<WireValue> wire;
        if (!ReadWireValues(args, 8, &wire))
            return {};
        uint64_t values = 0, namedTotal = 0;
        for (qsizetype i = 0; i < calls; ++i) {
            if (!ValidPromise(promises[i]))
                return {};
            values += valueCounts[i];
            namedTotal += namedCounts[i];
        }
        if (values != wire.size() || namedTotal != static_cast<uint64_t>(named.size()))
            return {};

        QList<qint32> outcomes;
        WireValues results;
        EXCEPINFO failed;
        size_t nextValue = 0;
        qsizetype nextNamed = 0;
        for (qsizetype i = 0; i < calls; ++i) {
            const auto first = wire.begin() + static_cast<std::ptrdiff_t>(nextValue);
            const std::vector<WireValue> arguments(first, first + valueCounts[i]);
            const QList<qint32> namedArgs = named.mid(nextNamed, namedCounts[i]);
            nextValue += valueCounts[i];
            nextNamed += namedCounts[i];
            if (halted_.count(client)) {
                outcomes << E_SKIPPED;
                results.append(WireValue{});
                continue;
            }
            const Outcome outcome =
                invoke(client, handles[i], names[i], dispids[i], lcids[i], flags[i], wantResults[i],
                       promises[i], arguments, namedArgs, true, awaited && i + 1 == calls);
            outcomes << outcome.h;
            results.append(outcome.result);
            if (FAILED(outcome.h)) {
                halted_.insert(client);
                failed = outcome.info;
            }
        }
        // Releases go through even after a failure: they only give back.
        for (qsizetype i = 0; i < releases.size(); ++i)
            release(client, releases[i], releaseCounts[i]);
        QList<QVariant> out{QVariant::fromValue(outcomes)};
        results.appendTo(out);
        out << QVariant::fromValue<quint16>(failed.wCode)
            << QString::fromStdU16String(failed.bstrSource)
            << QString::fromStdU16String(failed.bstrDescription)
            << QVariant::fromValue<qint32>(failed.scode);
        return out;
    }

    WireValue toWire(const QString& client, const Variant& value) {
        WireValue wire;
        wire.type = value.vt();
        switch (value.vt()) {
        case VT_I4:
            wire.number = value.intVal();
            break;
        case VT_R8:
            wire.real = value.dblVal();
            break;
        case VT_CY:
            wire.number = value.cyVal().int64;
            break;
        case VT_BOOL:
            wire.number = value.boolVal();
            break;
        case VT_BSTR:
            wire.text = value.bstrVal();
            break;
        case VT_DISPATCH:
            wire.number = static_cast<int64_t>(share(client, value.dispVal()));
            break;
        // A result that points into this program means nothing in another: send the value.
        case VT_BYREF | VT_R8:
            wire.type = VT_R8;
            wire.real = value.pdblVal() ? *value.pdblVal() : 0.0;
            break;
        case VT_BYREF | VT_DISPATCH:
            wire.type = VT_DISPATCH;
            if (value.ppdispVal())
                wire.number = static_cast<int64_t>(share(client, DispatchPtr(*value.ppdispVal())));
            break;
        default:
            wire.type = VT_EMPTY;
        }
        return wire;
    }

    QDBusConnection connection_;
    QDBusServiceWatcher watcher_;
    QTimer busCheck_;
    QTimer peerCheck_;
    std::unique_ptr<QTemporaryDir> peerFolder_;
    std::unique_ptr<QDBusServer> peerServer_;
    std::map<QString, QString> peers_; // client -> its connection's name
    bool registered_ = false;
    bool claimed_ = false;
    uint64_t nextHandle_ = 1;
    std::map<std::vector<std::u16string>, uint64_t> classes_;
    std::map<QString, ClientTable> clients_;
    std::set<QString> gone_;
    std::set<QString> halted_; // clients whose posted call failed and who have not heard yet
};

LocalServer::LocalServer(std::u16string progId)
    : impl_(std::make_unique<Impl>(std::move(progId))) {}

LocalServer::~LocalServer() = default;

bool LocalServer::start(std::string* error) {
    return impl_->start(error);
}

void LocalServer::withdraw() {
    impl_->withdraw();
}

std::string LocalServer::busName() const {
    return impl_->busName_.toStdString();
}

size_t LocalServer::clientCount() const {
    return impl_->clientCount();
}

size_t LocalServer::handleCount() const {
    return impl_->handleCount();
}

void LocalServer::onBusLost(std::function<void()> callback) {
    impl_->onBusLost_ = std::move(callback);
}

void LocalServer::afterCall(std::function<void()> callback) {
    impl_->afterCall_ = std::move(callback);
}

} // namespace automation::bus
