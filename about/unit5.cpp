#include "about/unit5.h"

namespace krepiks {

TForm5* Form5 = nullptr;

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("О программе"));
}

} // namespace krepiks
