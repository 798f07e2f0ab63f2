#pragma once
// The bolt table window.
#include <QDialog>

namespace krepiks {

class TADOQuery;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    TADOQuery* ADOQuery1 = nullptr;
};

extern TForm2* Form2;

} // namespace krepiks
