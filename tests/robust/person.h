#pragma once
// Drives the design window as a person does: clicks, typed keys, the focus moving on.
#include <QString>

class QLineEdit;
class QRadioButton;
class QWidget;

namespace krepiks::test {

void Click(QWidget* widget);
void ClickRadio(QRadioButton* button);
// Clicks into the box and replaces its text by typing; the box keeps the focus.
void TypeInto(QLineEdit* box, const QString& text);

// The typed dimensions of one new variant, all derived from one key so that its row can be
// told from every other: d0 = key + 0.5, d1 = key + 1, d2 = key + 0.25, S = key + 2,
// L = key + 10; R, K and e fixed; the angles left at their defaults.
struct VariantValues {
    double d0, d1, d2, S, L;
    static VariantValues ForKey(int key);
};

// In new-variant mode: types the values into their boxes (the fixed ones only when
// withFixed), each box left by clicking into the next, and presses Button1.
void AddVariant(const VariantValues& values, bool withFixed);

} // namespace krepiks::test
