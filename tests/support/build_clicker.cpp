// Loaded into a real krepiks process with LD_PRELOAD, it builds a bolt as a person would:
// once the design window shows, it chooses to pick a variant from the list, takes the
// list's first variant with the keyboard and presses the build button. When the CAD window
// shows the part (Shown() on the CAD program's probe) it notes what that window draws on,
// then closes Krepiks. A message box on the way is noted, answered with its first button,
// and ends the run. What happened goes to KREPIKS_CLICKER_REPORT as one JSON object.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

constexpr char CadBusName[] = "org.krepiks.Automation.sldworks_application";

class Clicker : public QObject {
public:
    explicit Clicker(QString reportPath) : reportPath_(std::move(reportPath)) {
        poll_.setInterval(20);
        connect(&poll_, &QTimer::timeout, this, [this] { look(); });
        poll_.start();
    }

private:
    void look() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box && box->isVisible()) {
            boxes_.append(box->windowTitle() + QStringLiteral(": ") + box->text());
            if (!box->buttons().isEmpty())
                QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
            return;
        }
        if (started_)
            return;
        QWidget* design = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("Form4") && w->isVisible())
                design = w;
        if (!design)
            return;
        started_ = true;
        // The rest runs from the loop, not inside this tick: the build's own boxes come
        // while the button's click is still being handled.
        QTimer::singleShot(0, this, [this, design] { build(design); });
    }

    void build(QWidget* design) {
        auto* fromList = design->findChild<QRadioButton*>(QStringLiteral("RadioButton2"));
        auto* list = design->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
        auto* buildButton = design->findChild<QPushButton*>(QStringLiteral("Button2"));
        auto* closeCad = design->findChild<QPushButton*>(QStringLiteral("Button3"));
        if (!fromList || !list || !buildButton || !closeCad)
            return finish({{"error", "the design window lacks its controls"}});
        QTest::mouseClick(fromList, Qt::LeftButton);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QJsonObject result{{"variant", list->currentText()}};
        QTest::mouseClick(buildButton, Qt::LeftButton);
        result.insert("built", closeCad->isEnabled() && boxes_.isEmpty());
        if (closeCad->isEnabled()) {
            const auto ask = [](const char* member) {
                const QDBusMessage call = QDBusMessage::createMethodCall(
                    QLatin1String(CadBusName), QStringLiteral("/org/krepiks/Cad"),
                    QStringLiteral("org.krepiks.Cad"), QLatin1String(member));
                return QDBusConnection::sessionBus().call(call, QDBus::Block, 60000);
            };
            const QDBusMessage shown = ask("Shown");
            result.insert("shown", shown.type() == QDBusMessage::ReplyMessage);
            if (shown.type() == QDBusMessage::ReplyMessage && shown.arguments().size() == 5) {
                const qint64 pid = shown.arguments()[4].toLongLong();
                result.insert("cadPid", pid);
                result.insert("cadProgram",
                              QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)));
            }
            const QDBusMessage view = ask("View");
            if (view.type() == QDBusMessage::ReplyMessage && view.arguments().size() == 2) {
                result.insert("platform", view.arguments()[0].toString());
                result.insert("threeD", view.arguments()[1].toBool());
            } else {
                result.insert("viewError", view.errorMessage());
            }
        }
        finish(result);
    }

    void finish(QJsonObject result) {
        result.insert("platform_krepiks", QGuiApplication::platformName());
        result.insert("boxes", QJsonArray::fromStringList(boxes_));
        QFile report(reportPath_);
        if (report.open(QIODevice::WriteOnly))
            report.write(QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n');
        report.close();
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    }

    QString reportPath_;
    QTimer poll_;
    bool started_ = false;
    QStringList boxes_;
};

void startClicking() {
    const QString path = qEnvironmentVariable("KREPIKS_CLICKER_REPORT");
    // Loaded into every program the launcher runs; only Krepiks has windows to click.
    if (!path.isEmpty() && qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        QCoreApplication::applicationFilePath().endsWith(QLatin1String("/krepiks")))
        new Clicker(path); // lives as long as the process
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startClicking)
