#pragma once
// The About window: the program's picture and title, a close button and the footer link.
#include <QDialog>

class QLabel;
class QPushButton;

namespace krepiks {

class BevelPanel;
class LinkLabel;

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    BevelPanel* Panel1 = nullptr;
    BevelPanel* Panel2 = nullptr;
    BevelPanel* Panel3 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* Label6 = nullptr;
    LinkLabel* Label1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void Button1Click();
    void Label1Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

extern TForm5* Form5;

} // namespace krepiks
