#pragma once
// The splash window: the application's main window for the whole run, visible only until
// the first tick of its timer hands over to the design window. It also hosts the one
// web-site link opener that every footer label calls.
#include <QWidget>

class QLabel;
class QTimer;

namespace krepiks {

class BevelPanel;
class LinkLabel;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Opens address in the browser, starting it on the first call and reusing it after.
    // Automation failures are thrown as EOleError and its subclasses.
    void OpenWebSite(const QString& address);

    int timerTicks() const { return TimerTicks; }
    // Whether the opener holds a browser (from the first successful creation on).
    bool browserHeld() const;

    BevelPanel* Panel1 = nullptr;
    BevelPanel* Panel2 = nullptr;
    BevelPanel* Panel3 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* Label6 = nullptr;
    LinkLabel* Label1 = nullptr;

public slots:
    void FormCreate();
    void Timer1Timer();
    void Label1Click();

private:
    int TimerTicks = 0;
    QTimer* Timer1 = nullptr;
};

extern TForm1* Form1;

} // namespace krepiks
