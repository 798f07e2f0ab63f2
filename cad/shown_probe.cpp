#include "cad/shown_probe.h"

#include "cad/cad_server.h"
#include "cad/cad_window.h"
#include "cad/part_view.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QPointer>

namespace krepiks::cad {

namespace {

qint64 Nanoseconds(std::chrono::steady_clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

CadWindow* VisibleWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<CadWindow*>(widget); window && window->isVisible())
            return window;
    return nullptr;
}

} // namespace

class ShownProbe::Impl : public QDBusVirtualObject {
public:
    Impl(QDBusConnection connection, std::chrono::steady_clock::time_point started,
         std::chrono::steady_clock::time_point named)
        : connection_(std::move(connection)), started_(started), named_(named) {
        connection_.registerVirtualObject(QString::fromLatin1(ShownProbePath), this,
                                          QDBusConnection::SingleNode);
    }
    ~Impl() override { connection_.unregisterObject(QString::fromLatin1(ShownProbePath)); }

    QString introspect(const QString&) const override {
        return QStringLiteral("<interface name=\"%1\"><method name=\"Shown\">"
                              "<arg direction=\"out\" type=\"x\" name=\"started\"/>"
                              "<arg direction=\"out\" type=\"x\" name=\"named\"/>"
                              "<arg direction=\"out\" type=\"x\" name=\"painted\"/>"
                              "<arg direction=\"out\" type=\"x\" name=\"templateLoad\"/>"
                              "<arg direction=\"out\" type=\"x\" name=\"pid\"/>"
                              "</method><method name=\"View\">"
                              "<arg direction=\"out\" type=\"s\" name=\"platform\"/>"
                              "<arg direction=\"out\" type=\"b\" name=\"threeD\"/>"
                              "</method></interface>")
            .arg(QLatin1String(ShownProbeInterface));
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        if (message.interface() != QLatin1String(ShownProbeInterface) ||
            !message.signature().isEmpty())
            return false;
        if (message.member() == QLatin1String("View"))
            return answerView(message);
        if (message.member() != QLatin1String("Shown"))
            return false;
        CadWindow* window = VisibleWindow();
        if (!window) {
            connection_.send(message.createErrorReply(QDBusError::Failed,
                                                      QStringLiteral("no CAD window shows")));
            return true;
        }
        waiting_ << message;
        if (window->showsLatest() && !window->refreshPending()) {
            answer();
        } else if (!watched_.contains(window)) {
            watched_ << window;
            QObject::connect(window, &CadWindow::shown, this, [this] { answer(); });
        }
        return true;
    }

private:
    bool answerView(const QDBusMessage& message) {
        const CadWindow* window = VisibleWindow();
        connection_.send(window ? message.createReply({QGuiApplication::platformName(),
                                                       window->partView()->scene() != nullptr})
                                : message.createErrorReply(QDBusError::Failed,
                                                           QStringLiteral("no CAD window shows")));
        return true;
    }

    void answer() {
        const qint64 painted = Nanoseconds(std::chrono::steady_clock::now());
        const auto session = RunningCadSession();
        const qint64 load = session ? session->lastTemplateLoad().count() : 0;
        for (const QDBusMessage& message : std::exchange(waiting_, {}))
            connection_.send(
                message.createReply({Nanoseconds(started_), Nanoseconds(named_), painted, load,
                                     QCoreApplication::applicationPid()}));
    }

    QDBusConnection connection_;
    std::chrono::steady_clock::time_point started_, named_;
    QList<QDBusMessage> waiting_;
    QList<QPointer<CadWindow>> watched_;
};

ShownProbe::ShownProbe(QDBusConnection connection, std::chrono::steady_clock::time_point started,
                       std::chrono::steady_clock::time_point named)
    : impl_(std::make_unique<Impl>(std::move(connection), started, named)) {}

ShownProbe::~ShownProbe() = default;

} // namespace krepiks::cad
