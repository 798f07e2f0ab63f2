#include "person.h"

#include "design/unit4.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace krepiks::test {

void Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}

void ClickRadio(QRadioButton* button) {
    // On the indicator: the label may end before the middle of the button.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

void TypeInto(QLineEdit* box, const QString& text) {
    Click(box);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

VariantValues VariantValues::ForKey(int key) {
    return {key + 0.5, key + 1.0, key + 0.25, key + 2.0, key + 10.0};
}

void AddVariant(const VariantValues& v, bool withFixed) {
    const auto text = [](double value) { return QString::number(value, 'g', 15); };
    TypeInto(Form4->Edit4, text(v.d0));
    TypeInto(Form4->Edit3, text(v.d1));
    TypeInto(Form4->Edit11, text(v.d2));
    TypeInto(Form4->Edit14, text(v.S));
    if (withFixed) {
        TypeInto(Form4->Edit2, QStringLiteral("1"));
        TypeInto(Form4->Edit6, QStringLiteral("7"));
        TypeInto(Form4->Edit13, QStringLiteral("20"));
    }
    TypeInto(Form4->Edit9, text(v.L));
    // Pressing the button takes the focus: the box just typed is checked first.
    Click(Form4->Button1);
}

} // namespace krepiks::test
