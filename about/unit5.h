#pragma once
// The About window.
#include <QDialog>

namespace krepiks {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
};

extern TForm5* Form5;

} // namespace krepiks
