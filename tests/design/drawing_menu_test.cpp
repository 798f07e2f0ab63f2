// «Чертёж» → «Сохранить чертёж…»: offered with the build button, and a drawing of the variant
// on the screen made by krepiks-catalogue beside the program.
#include "design_session.h"

#include "design/drawing_dialog.h"
#include "model/bolt.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace krepiks;
using namespace krepiks::test;

namespace {

class DrawingMenuTest : public DesignWindowTest {
protected:
    void SetUp() override {
        // The remembered fields go to a settings folder of the test's own.
        ASSERT_TRUE(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    }

    // Chooses the menu entry as a click does (its errors reach the general report), answers
    // the dialog with answer and waits until finished says the command is over; returns the
    // dialog's fields as they were offered.
    DrawingChoice answerDialog(const std::function<void(DrawingDialog&)>& answer,
                               const std::function<bool()>& finished) {
        DrawingChoice offered;
        bool seen = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<DrawingDialog*>(QApplication::activeModalWidget());
            if (!dialog || seen)
                return;
            seen = true;
            offered = dialog->choice();
            answer(*dialog);
        });
        poll.start();
        QMetaObject::invokeMethod(form()->N9, &QAction::trigger, Qt::QueuedConnection);
        EXPECT_TRUE(QTest::qWaitFor([&] { return seen && finished(); }, 100000));
        return offered;
    }

    QTemporaryDir config;
    QTemporaryDir out;
};

TEST_F(DrawingMenuTest, TheMenuStandsBeforeHelpAndIsOfferedWithTheBuildButton) {
    start();
    QStringList titles;
    for (QAction* action : form()->MainMenu1->actions())
        titles << action->text();
    EXPECT_EQ(titles, (QStringList{"&Таблица исполнений болтов", "&Чертёж", "&Справка",
                                   "&Закрыть программу"}));
    EXPECT_EQ(form()->N9->text(), "Сохранить чертёж…");

    const auto same = [&] { return form()->N9->isEnabled() == form()->Button2->isEnabled(); };
    EXPECT_FALSE(form()->N9->isEnabled());
    choose(0);
    EXPECT_TRUE(form()->Button2->isEnabled());
    EXPECT_TRUE(same());
    clickRadio(form()->RadioButton1);
    EXPECT_FALSE(form()->Button2->isEnabled());
    EXPECT_TRUE(same());
    clickRadio(form()->RadioButton2);
    EXPECT_TRUE(same());
}

TEST_F(DrawingMenuTest, ATypedVariantIsDrawnWithTheTitleBlockGivenAndTheFieldsRemembered) {
    start();
    clickRadio(form()->RadioButton1);
    typeVariant();
    const QString added = QString::fromStdString(Bolt.isp);
    ASSERT_FALSE(added.isEmpty());
    clickRadio(form()->RadioButton2);
    chooseName(added);
    enter(form()->Edit15, QStringLiteral(KREPIKS_PART_TEMPLATE));
    ASSERT_TRUE(form()->N9->isEnabled());

    const QString file = out.filePath("typed.pdf");
    const DrawingChoice offered = answerDialog(
        [&](DrawingDialog& dialog) {
            dialog.fileEdit->setText(file);
            dialog.materialEdit->setText("Сталь 45 ГОСТ 1050-2013");
            dialog.authorEdit->setText("Петров");
            QTest::mouseClick(dialog.saveButton, Qt::LeftButton);
        },
        [&] { return effects.count(Kind::RestoreCursor) == 1; });
    EXPECT_TRUE(offered.file.endsWith(added + ".pdf")) << offered.file.toStdString();
    EXPECT_EQ(offered.designation, added);
    EXPECT_DOUBLE_EQ(offered.density, 7.85);
    EXPECT_TRUE(effects.boxes().empty());
    EXPECT_EQ(effects.count(Kind::WaitCursor), 1);
    EXPECT_FALSE(effects.waitCursorShown());

    QProcess text;
    text.start("pdftotext", {file, "-"});
    ASSERT_TRUE(text.waitForFinished());
    const QString drawn = QString::fromUtf8(text.readAllStandardOutput());
    for (const char* expected :
         {"⌀10,4", "⌀12", "⌀8,4", "70", "20,03*", "18", "Петров", "Сталь 45"})
        EXPECT_TRUE(drawn.contains(QString::fromUtf8(expected))) << expected;

    // The next time, the last material and author are offered; a refusal is reported.
    const DrawingChoice again = answerDialog(
        [&](DrawingDialog& dialog) {
            dialog.fileEdit->setText(file);
            QTest::mouseClick(dialog.saveButton, Qt::LeftButton);
        },
        [&] { return effects.boxes().size() == 1; });
    EXPECT_EQ(again.material, "Сталь 45 ГОСТ 1050-2013");
    EXPECT_EQ(again.author, "Петров");
    const auto boxes = effects.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Крепикс");
    EXPECT_TRUE(boxes[0].text.contains("уже существует")) << boxes[0].text.toStdString();
    EXPECT_FALSE(effects.waitCursorShown());
}

} // namespace
