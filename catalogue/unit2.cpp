#include "catalogue/unit2.h"

#include "catalogue/database.h"
#include "design/unit4.h"

namespace krepiks {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Таблица болтов"));
    ADOQuery1 = new TADOQuery(Form4->ADOConnection1, this);
    ADOQuery1->setObjectName(QStringLiteral("ADOQuery1"));
    ADOQuery1->SQL.append(QStringLiteral("select * from Размеры order by id;"));
    ADOQuery1->Open();
}

} // namespace krepiks
