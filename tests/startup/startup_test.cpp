// Whole start-up runs: each test makes its own application object, as main does.
#include "design/unit4.h"
#include "platform/exception.h"
#include "shell/application.h"
#include "shell/unit1.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

using namespace krepiks;
using krepiks::test::RecordingEffects;
using krepiks::test::TestCatalogue;

namespace {

struct App {
    int argc = 1;
    char name[8] = "krepiks";
    char* argv[2] = {name, nullptr};
    KrepiksApplication app{argc, argv};
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(StartupFailure, MissingCatalogueEndsWithOneAndCreatesNoFile) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    RecordingEffects effects;
    App a;
    EXPECT_EQ(ExecKrepiks(a.app), 1);
    const auto boxes = effects.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Application Error");
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes[0].buttons, BoxButtons::Ok);
    EXPECT_TRUE(boxes[0].text.startsWith("Exception EDatabaseError in module "))
        << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains("Could not find file '" + folder.file() + "'."));
    EXPECT_FALSE(QFileInfo::exists(folder.file()));
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(Form4, nullptr);
}

TEST(StartupFailure, ForeignFileIsReportedAndLeftByteForByte) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"jet", QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(2028, 'J')},
        {"text", QByteArray("isp;d0;d1\nM6;5;6\n")},
        {"truncated sqlite", QByteArray("SQLite format 3\x00", 16) + QByteArray(40, '\x01')},
    };
    for (const auto& c : cases) {
        {
            QFile file(folder.file());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.bytes);
        }
        RecordingEffects effects;
        App a;
        EXPECT_EQ(ExecKrepiks(a.app), 1) << c.what;
        ASSERT_EQ(effects.boxes().size(), 1u) << c.what;
        EXPECT_TRUE(effects.boxes()[0].text.contains("Unrecognized database format"))
            << c.what << ": " << effects.boxes()[0].text.toStdString();
        EXPECT_EQ(readAll(folder.file()), c.bytes) << c.what;
    }
}

TEST(StartupFailure, MissingVariantTableEndsStartUp) {
    TestCatalogue folder;
    folder.exec("drop table \"Размеры\"");
    RecordingEffects effects;
    App a;
    EXPECT_EQ(ExecKrepiks(a.app), 1);
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_TRUE(effects.boxes()[0].text.contains("'Размеры'"));
}

TEST(Startup, SplashHandsOverAndTheLoopEndsWithZero) {
    TestCatalogue folder;
    RecordingEffects effects;
    App a;
    bool designShown = false;
    bool splashHidden = false;
    QTimer probe;
    probe.setInterval(50);
    int polls = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        ++polls;
        if (Form4 && Form4->isVisible()) {
            designShown = true;
            splashHidden = !Form1->isVisible();
            QApplication::exit(0);
        } else if (polls > 100) {
            QApplication::exit(7);
        }
    });
    probe.start();
    EXPECT_EQ(ExecKrepiks(a.app), 0);
    EXPECT_TRUE(designShown);
    EXPECT_TRUE(splashHidden);
    EXPECT_EQ(QApplication::applicationDisplayName(), ApplicationTitle);
    EXPECT_EQ(Form1, nullptr) << "windows are destroyed when the loop ends";
}

TEST(ErrorReport, FullStopRule) {
    EXPECT_EQ(ErrorReportText("Invalid class string"), "Invalid class string.");
    EXPECT_EQ(ErrorReportText("Already ends."), "Already ends.");
    EXPECT_EQ(ErrorReportText("Вы не ввели размер d0!"), "Вы не ввели размер d0!");
    EXPECT_EQ(ErrorReportText("(code 5)"), "(code 5)");
    EXPECT_EQ(ErrorReportText("code 5"), "code 5.");
    EXPECT_EQ(ErrorReportText("a,"), "a,");
    EXPECT_EQ(ErrorReportText("Ошибка"), "Ошибка.");
    EXPECT_EQ(ErrorReportText(""), "");
}

namespace {
class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw EOleSysError("Invalid class string", -2147221005);
        return QObject::event(e);
    }
};
} // namespace

TEST(ErrorReport, AnErrorEscapingAHandlerIsShownAndTheLoopGoesOn) {
    RecordingEffects effects;
    App a;
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    bool stillRunning = false;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            stillRunning = true;
            QApplication::exit(0);
        });
    });
    EXPECT_EQ(a.app.exec(), 0);
    EXPECT_TRUE(stillRunning);
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_EQ(effects.boxes()[0].caption, "Крепикс");
    EXPECT_EQ(effects.boxes()[0].icon, BoxIcon::Error);
    EXPECT_EQ(effects.boxes()[0].text, "Invalid class string.");
}
