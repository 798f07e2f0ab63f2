// Loaded into a real krepiks process with LD_PRELOAD by tools/screenshots.sh, it takes the
// design window's picture and builds a bolt as a person would: once the design window
// shows, it picks M12x70 from the list of variants, saves the window as
// KREPIKS_SCREENSHOT_DIR/design-window.png and presses the build button. When the CAD
// window shows the part (Shown() on the CAD program's probe) it writes the CAD program's
// process id, or what went wrong, to KREPIKS_SCREENSHOT_REPORT and closes Krepiks; the CAD
// program keeps running with its window for the script to take. A message box on the way
// is noted, answered with its first button, and fails the run.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

constexpr char CadBusName[] = "org.krepiks.Automation.sldworks_application";
constexpr char Variant[] = "M12x70";

class Driver : public QObject {
public:
    Driver(QString folder, QString reportPath)
        : folder_(std::move(folder)), reportPath_(std::move(reportPath)) {
        poll_.setInterval(20);
        connect(&poll_, &QTimer::timeout, this, [this] { look(); });
        poll_.start();
    }

private:
    void look() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box && box->isVisible()) {
            boxes_ << box->windowTitle() + QStringLiteral(": ") + box->text();
            if (!box->buttons().isEmpty())
                QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
            return;
        }
        if (started_)
            return;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("Form4") && w->isVisible()) {
                started_ = true;
                // The build's own boxes come while the click is being handled: not inside
                // this tick.
                QTimer::singleShot(0, this, [this, w] { run(w); });
                return;
            }
    }

    void run(QWidget* design) {
        auto* fromList = design->findChild<QRadioButton*>(QStringLiteral("RadioButton2"));
        auto* list = design->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
        auto* buildButton = design->findChild<QPushButton*>(QStringLiteral("Button2"));
        auto* closeCad = design->findChild<QPushButton*>(QStringLiteral("Button3"));
        if (!fromList || !list || !buildButton || !closeCad)
            return finish(QStringLiteral("the design window lacks its controls"));
        QTest::mouseClick(fromList, Qt::LeftButton);
        list->setFocus();
        // As a person picks it: each step down the list loads that variant's dimensions.
        for (int i = 0; i < list->count() && list->currentText() != QLatin1String(Variant); ++i)
            QTest::keyClick(list, Qt::Key_Down);
        if (list->currentText() != QLatin1String(Variant))
            return finish(QStringLiteral("the list has no %1").arg(QLatin1String(Variant)));
        if (!design->grab().save(QDir(folder_).filePath(QStringLiteral("design-window.png"))))
            return finish(QStringLiteral("the design window's picture could not be saved"));
        QTest::mouseClick(buildButton, Qt::LeftButton);
        if (!closeCad->isEnabled() || !boxes_.isEmpty())
            return finish(QStringLiteral("the build failed"));
        const QDBusMessage shown = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(
                QLatin1String(CadBusName), QStringLiteral("/org/krepiks/Cad"),
                QStringLiteral("org.krepiks.Cad"), QStringLiteral("Shown")),
            QDBus::Block, 120000);
        if (shown.type() != QDBusMessage::ReplyMessage || shown.arguments().size() != 5)
            return finish(QStringLiteral("the CAD window did not show the part: ") +
                          shown.errorMessage());
        finish({}, shown.arguments()[4].toLongLong());
    }

    void finish(const QString& error, qint64 cadPid = 0) {
        poll_.stop();
        QFile report(reportPath_);
        if (report.open(QIODevice::WriteOnly)) {
            QStringList lines;
            if (cadPid > 0)
                lines << QStringLiteral("cad-pid %1").arg(cadPid);
            if (!error.isEmpty())
                lines << QStringLiteral("error ") + error;
            for (const QString& box : boxes_)
                lines << QStringLiteral("box ") + box;
            report.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        }
        report.close();
        // Krepiks goes without asking; the CAD program stays, as it does for a person.
        QCoreApplication::exit(0);
    }

    QString folder_;
    QString reportPath_;
    QTimer poll_;
    bool started_ = false;
    QStringList boxes_;
};

void startDriving() {
    const QString folder = qEnvironmentVariable("KREPIKS_SCREENSHOT_DIR");
    const QString report = qEnvironmentVariable("KREPIKS_SCREENSHOT_REPORT");
    // Loaded into every program Krepiks starts; only Krepiks has the design window.
    if (!folder.isEmpty() && !report.isEmpty() &&
        qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        QCoreApplication::applicationFilePath().endsWith(QLatin1String("/krepiks")))
        new Driver(folder, report); // lives as long as the process
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriving)
