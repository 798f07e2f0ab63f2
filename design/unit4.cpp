#include "design/unit4.h"

#include "catalogue/database.h"

namespace krepiks {

TForm4* Form4 = nullptr;

TForm4::TForm4(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form4"));
    ADOConnection1 = new TADOConnection(this);
    ADOConnection1->setObjectName(QStringLiteral("ADOConnection1"));
    ADOQuery1 = new TADOQuery(ADOConnection1, this);
    ADOQuery1->setObjectName(QStringLiteral("ADOQuery1"));
    ADOQuery2 = new TADOQuery(ADOConnection1, this);
    ADOQuery2->setObjectName(QStringLiteral("ADOQuery2"));
    ADOConnection1->Open();
}

TForm4::~TForm4() = default;

} // namespace krepiks
