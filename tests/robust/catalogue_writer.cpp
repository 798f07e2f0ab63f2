// A whole Krepiks process that stores new variants through its design window, as a person
// would, for the tests that run several writers on one catalogue or kill one midway.
//
//   catalogue_writer FOLDER FIRST-KEY COUNT
//
// Prints "posted <name> <d0>" after each stored row, flushed at once, and "box <caption>:
// <text>" for every message box. Exit code 0, or 2 when an add was refused, 1 when start-up
// failed.
#include "design/unit4.h"
#include "model/bolt.h"
#include "person.h"
#include "shell/application.h"
#include "support/hand_over.h"
#include "support/recording_effects.h"

#include <QDir>
#include <QRadioButton>
#include <cstdio>
#include <cstdlib>

using namespace krepiks;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: catalogue_writer FOLDER FIRST-KEY COUNT\n");
        return 64;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int firstKey = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    KrepiksApplication app(argc, argv);
    if (!QDir::setCurrent(folder))
        return 64;

    test::RecordingEffects effects;
    effects.onBox = [](const MessageBoxRequest& box) {
        std::printf("box %s: %s\n", box.caption.toUtf8().constData(),
                    box.text.toUtf8().constData());
        std::fflush(stdout);
    };
    try {
        CreateForms();
    } catch (const std::exception& error) {
        std::printf("startup %s\n", error.what());
        DestroyForms();
        return 1;
    }
    if (!test::HandOverToDesignWindow())
        return 1;
    test::ClickRadio(Form4->RadioButton1);
    if (!Form4->RadioButton1->isChecked())
        return 1;

    int refused = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t before = effects.boxes().size();
        test::AddVariant(test::VariantValues::ForKey(firstKey + i), i == 0);
        if (effects.boxes().size() != before) {
            ++refused;
            continue;
        }
        std::printf("posted %s %.17g\n", Bolt.isp.c_str(), Bolt.d0);
        std::fflush(stdout);
    }
    DestroyForms();
    return refused ? 2 : 0;
}
