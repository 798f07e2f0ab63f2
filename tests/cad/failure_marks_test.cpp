// What the CAD window tells its user when the program's build asks for something it cannot make.
#include "bolt_steps.h"
#include "cad/cad_window.h"
#include "model/solidworks.h"
#include "support/recording_effects.h"
#include "window_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace krepiks::cad;
using namespace krepiks::cad::test;

namespace {

QString StatusOf(CadWindow* window) {
    const auto* status = window->statusBar()->findChild<QLabel*>();
    return status ? status->text() : QString();
}

class FailureMarks : public ::testing::Test {
protected:
    void SetUp() override {
        InstallCadWindows();
        RegisterCadServer();
    }
    void TearDown() override {
        krepiks::ReleaseSolidWorks();
        if (auto session = RunningCadSession())
            session->quit();
        Settle();
        UnregisterCadServer();
        SetSessionViewFactory(nullptr);
    }
    // The program's build, as the design window runs it; the message it would show.
    std::string Build(krepiks::TBolt bolt) {
        std::string message;
        try {
            krepiks::BuildModel(bolt);
        } catch (const std::exception& e) {
            message = e.what();
        }
        Settle();
        return message;
    }

    krepiks::test::RecordingEffects effects;
};

} // namespace

TEST_F(FailureMarks, AFeatureThatCannotBeMadeIsMarkedWithItsReason) {
    // A zero shank diameter leaves the turned profile without area.
    BoltDims d = WorkedExample();
    d.d1 = 0;
    const std::string message = Build(BoltOf(d));
    CadWindow* window = FindWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->documentTree()->topLevelItemCount(), 1);
    const QStringList items = Children(window->documentTree()->topLevelItem(0));
    const QString marked = items.filter("Бобышка-Повернуть1 — ошибка: ").value(0);
    EXPECT_FALSE(marked.isEmpty()) << items.join(" | ").toStdString();
    EXPECT_TRUE(marked.contains("Эскиз1"))
        << "the reason names the sketch: " << marked.toStdString();
    EXPECT_LT(items.indexOf("Эскиз1"), items.indexOf(marked)) << "marked where it was asked for";
    EXPECT_TRUE(
        StatusOf(window).startsWith("Тела нет: не удалось построить «Бобышка-Повернуть1» — "))
        << StatusOf(window).toStdString();

    // The same build with sound values: the part has its body and no marks.
    const std::string again = Build(BoltOf(WorkedExample()));
    EXPECT_EQ(again, "");
    window = FindWindow();
    ASSERT_NE(window, nullptr);
    QTreeWidget* tree = window->documentTree();
    const QStringList sound = Children(tree->topLevelItem(tree->topLevelItemCount() - 1));
    EXPECT_TRUE(sound.filter(" — ошибка: ").isEmpty()) << sound.join(" | ").toStdString();
    EXPECT_TRUE(StatusOf(window).startsWith("Объём: ")) << StatusOf(window).toStdString();
}

TEST_F(FailureMarks, ATemplateThatCannotBeReadIsNamedWithTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    const std::string text = folder + "/notes.kprt";
    std::ofstream(text) << "this is not a template\n";
    const std::string big = folder + "/big.kprt";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, 100u << 20); // sparse: costs no disk
    const struct {
        std::string path;
        QString reason;
    } cases[] = {
        {folder + "/missing.kprt", "файл не найден"},
        {folder, "это папка, а не файл"},
        {"/dev/zero", "это не обычный файл"},
        {big, "файл больше 1 МБ, шаблон не бывает таким большим"},
        {text, "это не шаблон детали (ошибка в строке 1)"},
    };
    // The first build opens the window on a sound part; each bad template is then reported.
    ASSERT_EQ(Build(BoltOf(WorkedExample())), "");
    std::string firstMessage;
    for (const auto& c : cases) {
        krepiks::TBolt bolt = BoltOf(WorkedExample());
        bolt.TemplatePath = c.path;
        const std::string message = Build(bolt);
        EXPECT_FALSE(message.empty()) << "the build fails as before";
        if (firstMessage.empty())
            firstMessage = message;
        EXPECT_EQ(message, firstMessage) << "Krepiks' own message does not depend on the cause";
        CadWindow* window = FindWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(StatusOf(window),
                  "Шаблон детали «" + QString::fromStdString(c.path) + "» не открыт: " + c.reason);
    }
    // A template that opens again clears the report.
    ASSERT_EQ(Build(BoltOf(WorkedExample())), "");
    EXPECT_TRUE(StatusOf(FindWindow()).startsWith("Объём: "))
        << StatusOf(FindWindow()).toStdString();
}
