#include "automation/bus/local_server.h"

#include "automation/automation.h"
#include "automation/bus/call_dispatch.h"
#include "automation/bus/handle_table.h"
#include "automation/bus/peer_folder.h"
#include "automation/bus/protocol.h"

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

using namespace server;

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
        handles_.clear();
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
            handles_.release(client, args[0].toULongLong(), args[1].toULongLong());
            if (afterCall_)
                afterCall_();
            return true;
        }
        if (member == QLatin1String("Resume") && signature.isEmpty()) {
            dispatch_.resume(client);
            return true;
        }
        const bool lookup = member == QLatin1String("GetIDsOfNames");
        const bool invoked = member == QLatin1String("InvokeAs");
        QList<QVariant> out;
        if (member == QLatin1String("PostRun") &&
            signature == QLatin1String("atasaiauaqabatauaqaxadaqauaiatatb"))
            out = dispatch_.postRun(client, args);
        else if (dispatch_.halted(client) && (lookup || invoked))
            out = CallDispatch::skipped(lookup);
        else if (member == QLatin1String("CreateInstance") && signature.isEmpty())
            out = createInstance(client, false);
        else if (member == QLatin1String("GetActiveObject") && signature.isEmpty())
            out = createInstance(client, true);
        else if (member == QLatin1String("PeerAddress") && signature.isEmpty())
            out = {peerServer_ ? peerServer_->address() : QString()};
        else if (lookup && signature == QLatin1String("tsu"))
            out = dispatch_.getIDsOfNames(client, args);
        else if (invoked && signature == QLatin1String("tsiuqbtaqaxadaqai"))
            out = dispatch_.invokeAs(client, args);
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

    size_t clientCount() const { return handles_.clientCount(); }
    size_t handleCount() const { return handles_.handleCount(); }

    std::u16string progId_;
    QString busName_;
    std::function<void()> onBusLost_;
    std::function<void()> afterCall_;

private:
    // Whether a client without a table may have one: its departure is watched from now on.
    // False once it has left the bus; unique names never come back.
    bool admit(const QString& client) {
        if (gone_.count(client))
            return false;
        if (client.startsWith(QLatin1String(PeerClientPrefix))) {
            const auto peer = peers_.find(client);
            if (peer == peers_.end() || !QDBusConnection(peer->second).isConnected())
                return false;
            return true;
        }
        watcher_.addWatchedService(client);
        // It may have left before the watch was in place; unique names never come back.
        if (!NameHasOwner(connection_, client)) {
            watcher_.removeWatchedService(client);
            gone_.insert(client);
            return false;
        }
        return true;
    }

    // A socket that only this user can reach: calls on it skip the bus daemon's two hops.
    // Clients that cannot use it stay on the bus.
    void listenForPeers() {
        if (peerServer_)
            return;
        auto folder = MakePeerFolder();
        if (!folder)
            return;
        auto server = std::make_unique<QDBusServer>(PeerSocketAddress(*folder));
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
            dispatch_.resume(client);
            handles_.forget(client);
            QDBusConnection::disconnectFromPeer(name);
        }
        if (peers_.empty())
            peerCheck_.stop();
    }

    void dropClient(const QString& client) {
        dispatch_.resume(client);
        if (client.startsWith(QLatin1Char(':')))
            gone_.insert(client);
        handles_.forget(client);
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
            handle = handles_.share(client, object);
            if (handle == 0)
                h = RPC_E_DISCONNECTED; // the client left while the object was being made
        }
        return {QVariant::fromValue<qint32>(h), QVariant::fromValue<quint64>(handle)};
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
    std::set<QString> gone_;
    HandleTable handles_{[this](const QString& client) { return admit(client); },
                         [this](const QString& client) { watcher_.removeWatchedService(client); }};
    CallDispatch dispatch_{handles_};
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
