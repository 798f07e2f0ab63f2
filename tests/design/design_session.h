#pragma once
// A design window on a test catalogue, driven through the mouse and keyboard.
#include "design/unit4.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace krepiks::test {

class DesignWindowTest : public ::testing::Test {
protected:
    using Kind = RecordingEffects::Kind;

    void TearDown() override;

    // Makes the catalogue (prepare may change it first), creates every window, shows the
    // design window and waits for its first activation.
    void start(TestCatalogue::Contents contents = TestCatalogue::Contents::Sample,
               const std::function<void(TestCatalogue&)>& prepare = {});

    TForm4* form() const { return Form4; }
    QLineEdit* edit(int number) const;

    void click(QWidget* widget);
    void clickRadio(QRadioButton* button);
    // Clicks into the box, replaces its text by typing and stays in it.
    void typeInto(QLineEdit* box, const QString& text);
    // Leaves the box with Tab.
    void tabOut(QLineEdit* box);
    // Types and leaves with Tab.
    void enter(QLineEdit* box, const QString& text);
    // Drags text from elsewhere and drops it at the right end of the box, which keeps
    // whatever else it holds and never takes the focus.
    void dropText(QLineEdit* box, const QString& text);
    // Types a complete new variant (d 10.4, d1 12, d2 8.4, S 18, R 0.6, K 7.5, L 70, e 20.03),
    // each click into a box leaving the one before, and clicks the add button.
    void typeVariant();
    // Opens the list and clicks the entry.
    void choose(int index);
    void chooseName(const QString& name);

    QStringList boxTexts() const;
    QStringList listEntries() const;
    std::vector<QString> boxMessages() const;

    RecordingEffects effects;
    std::optional<TestCatalogue> catalogue;
};

} // namespace krepiks::test
