#pragma once
// The bolt design window.
#include <QMainWindow>

namespace krepiks {

class TADOConnection;
class TADOQuery;

class TForm4 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    TADOConnection* ADOConnection1 = nullptr;
    TADOQuery* ADOQuery1 = nullptr;
    TADOQuery* ADOQuery2 = nullptr;
};

extern TForm4* Form4;

} // namespace krepiks
