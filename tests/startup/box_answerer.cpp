// Loaded into a real krepiks process with LD_PRELOAD, it stands in for the person at the
// screen: when a message box opens it notes what the box says and which other windows are
// on screen, looks on while the box stays open long enough for any timer of the program to
// have fired several times, then presses the box's first button with the mouse. One JSON
// line per box goes to the file named by KREPIKS_BOX_REPORT.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

// Five ticks of the splash window's 100 ms timer.
constexpr int LookOnMs = 500;

class Answerer : public QObject {
public:
    explicit Answerer(QString reportPath) : reportPath_(std::move(reportPath)) {
        poll_.setInterval(10);
        connect(&poll_, &QTimer::timeout, this, [this] { look(); });
        poll_.start();
    }

private:
    void look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            box_.clear();
            return;
        }
        if (box != box_) {
            box_ = box;
            others_.clear();
            open_.start();
        }
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != box && w->isVisible())
                others_.insert(w->objectName().isEmpty()
                                   ? QString::fromLatin1(w->metaObject()->className())
                                   : w->objectName());
        if (open_.elapsed() < LookOnMs)
            return;
        QJsonObject line{{"caption", box->windowTitle()},
                         {"text", box->text()},
                         {"icon", static_cast<int>(box->icon())},
                         {"others", QJsonArray::fromStringList(others_.values())}};
        QJsonArray buttons;
        for (QAbstractButton* b : box->buttons())
            buttons.append(b->text());
        line.insert("buttons", buttons);
        QFile report(reportPath_);
        if (report.open(QIODevice::Append))
            report.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
        report.close();
        box_.clear();
        if (!box->buttons().isEmpty())
            QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    }

    QString reportPath_;
    QTimer poll_;
    QPointer<QMessageBox> box_;
    QSet<QString> others_;
    QElapsedTimer open_;
};

void startAnswering() {
    const QString path = qEnvironmentVariable("KREPIKS_BOX_REPORT");
    if (!path.isEmpty())
        new Answerer(path); // lives as long as the process
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startAnswering)
