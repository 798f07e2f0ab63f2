#include "freecad/freecad_probe.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace krepiks::freecad {

class FreeCadProbe::Impl : public QDBusVirtualObject {
public:
    Impl(QDBusConnection connection, std::function<std::string()> describe)
        : connection_(std::move(connection)), describe_(std::move(describe)) {
        connection_.registerVirtualObject(QString::fromLatin1(FreeCadProbePath), this,
                                          QDBusConnection::SingleNode);
    }
    ~Impl() override { connection_.unregisterObject(QString::fromLatin1(FreeCadProbePath)); }

    QString introspect(const QString&) const override {
        return QStringLiteral("<interface name=\"%1\"><method name=\"Describe\">"
                              "<arg direction=\"out\" type=\"s\" name=\"document\"/>"
                              "</method></interface>")
            .arg(QLatin1String(FreeCadProbeInterface));
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        if (message.interface() != QLatin1String(FreeCadProbeInterface) ||
            message.member() != QLatin1String("Describe") || !message.signature().isEmpty())
            return false;
        const std::string text = describe_();
        connection_.send(
            text.empty() ? message.createErrorReply(QDBusError::Failed,
                                                    QStringLiteral("no part document in FreeCAD"))
                         : message.createReply(QString::fromStdString(text)));
        return true;
    }

private:
    QDBusConnection connection_;
    std::function<std::string()> describe_;
};

FreeCadProbe::FreeCadProbe(QDBusConnection connection, std::function<std::string()> describe)
    : impl_(std::make_unique<Impl>(std::move(connection), std::move(describe))) {}

FreeCadProbe::~FreeCadProbe() = default;

} // namespace krepiks::freecad
