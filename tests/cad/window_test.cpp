// The CAD application's window, driven as a person would.
#include "cad/part_view.h"
#include "model/solidworks.h"
#include "window_fixture.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <STEPControl_Reader.hxx>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

using namespace krepiks::cad;
using namespace krepiks::cad::test;
using automation::CallKind;
using automation::DispatchPtr;
using automation::Variant;

namespace {

class Window : public WindowFixture {};

} // namespace

TEST_F(Window, VisibleShowsTheDocumentsTheirFeaturesAndTheVolume) {
    EXPECT_EQ(FindWindow(), nullptr) << "not visible yet";
    CadWindow* window = Build();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Деталь1 — Крепикс CAD");
    QTreeWidget* tree = window->documentTree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Деталь1");
    EXPECT_EQ(Children(tree->topLevelItem(0)),
              (QStringList{"Спереди", "Сверху", "Справа", "Эскиз1", "Бобышка-Повернуть1", "Эскиз2",
                           "Бобышка-Вытянуть1", "Ось1", "Эскиз3", "Вырез-Повернуть1"}));
    const auto* status = window->statusBar()->findChild<QLabel*>();
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->text().startsWith("Объём: ")) << status->text().toStdString();
    EXPECT_TRUE(status->text().endsWith(" мм³")) << status->text().toStdString();
}

// Without OpenGL (Qt's offscreen platform, an X display without GLX) the view says so, and
// the view menu still turns the part's orientation, which a script's next turn starts from.
TEST_F(Window, WithoutOpenGlTheViewSaysSoAndTheViewMenuStillTurnsThePart) {
    CadWindow* window = Build();
    ASSERT_NE(window, nullptr);
    PartView* view = window->partView();
    EXPECT_EQ(view->scene(), nullptr);
    const auto* note = view->findChild<QLabel*>("PartViewUnavailable");
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "Трёхмерный вид недоступен: нет OpenGL");
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(view->findChildren<QWidget*>().size(), 1) << "nothing but the note";

    QMenu* menu = nullptr;
    for (QAction* a : window->menuBar()->actions())
        if (a->text() == "&Вид")
            menu = a->menu();
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* a : menu->actions())
        entries << a->text();
    EXPECT_EQ(entries,
              (QStringList{"&Вписать в окно", "&Спереди", "С&верху", "С&права", "&Изометрия"}));

    const auto doc = session->activeDocument();
    const int rotations = doc->view().rotations, fits = doc->view().zoomsToFit;
    const std::array<double, 9> top{1, 0, 0, 0, 0, -1, 0, 1, 0};
    menu->actions()[2]->trigger();
    EXPECT_EQ(doc->view().rotation, top);
    menu->actions()[3]->trigger();
    EXPECT_EQ(doc->view().rotation, (std::array<double, 9>{0, 0, -1, 0, 1, 0, 1, 0, 0}));
    menu->actions()[1]->trigger();
    EXPECT_EQ(doc->view().rotation, (std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    menu->actions()[4]->trigger();
    const auto& iso = doc->view().rotation;
    for (int i = 6; i < 9; ++i)
        EXPECT_NEAR(iso[i], 1 / std::sqrt(3.0), 1e-12) << "seen from +X +Y +Z";
    EXPECT_NEAR(iso[1], 0, 1e-12) << "the screen's right stays level";
    EXPECT_GT(iso[4], 0) << "Y stays up";
    EXPECT_EQ(doc->view().rotations, rotations) << "a person's choice is not a script rotation";

    menu->actions()[0]->trigger();
    EXPECT_EQ(doc->view().zoomsToFit, fits + 1);
}

TEST_F(Window, ClosingTheWindowOrQuittingEndsTheApplication) {
    // The title bar's close.
    QPointer<CadWindow> window = Build();
    ASSERT_TRUE(window);
    window->close();
    Settle();
    EXPECT_FALSE(window) << "the window goes with its application";
    EXPECT_FALSE(session->alive());
    Variant r;
    const auto outcome = automation::DispatchInvoke(app.get(), u"Visible", CallKind::Put,
                                                    {Variant::fromBool(true)}, &r);
    EXPECT_EQ(outcome.code, automation::RPC_E_DISCONNECTED);
    EXPECT_EQ(outcome.message, "The object invoked has disconnected from its clients");

    // The menu's close, on the application the next build starts.
    Start();
    window = Build();
    ASSERT_TRUE(window);
    QAction* close = window->findChild<QAction*>("CloseAction");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "&Закрыть");
    close->trigger();
    Settle();
    EXPECT_FALSE(window);
    EXPECT_FALSE(session->alive());

    // Quit from the client.
    Start();
    window = Build();
    ASSERT_TRUE(window);
    krepiks::CloseSolidWorks();
    Settle();
    EXPECT_FALSE(window);
    EXPECT_EQ(FindWindow(), nullptr);
}

TEST_F(Window, HiddenWhileNotVisible) {
    QPointer<CadWindow> window = Build();
    ASSERT_TRUE(window);
    Call(app.get(), u"Visible", {Variant::fromBool(false)}, CallKind::Put);
    Settle();
    EXPECT_EQ(FindWindow(), nullptr);
    EXPECT_TRUE(session->alive()) << "hiding is not quitting";
    Call(app.get(), u"Visible", {Variant::fromBool(true)}, CallKind::Put);
    Settle();
    CadWindow* again = FindWindow();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->documentTree()->topLevelItemCount(), 1) << "the part is still open";
}

TEST_F(Window, SavingAsStepAndStl) {
    CadWindow* window = Build();
    ASSERT_NE(window, nullptr);
    QTemporaryDir dir;
    QStringList asked;
    QString answer;
    window->choosePath = [&](const QString& caption, const QString& filter,
                             const QString& proposed) {
        asked << caption + "|" + filter + "|" + proposed;
        return answer;
    };
    answer = dir.filePath("bolt.step");
    window->saveStepAction()->trigger();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], "Сохранить как STEP|STEP (*.step *.stp)|Деталь1.step");
    STEPControl_Reader reader;
    ASSERT_EQ(reader.ReadFile(answer.toUtf8().constData()), IFSelect_RetDone);
    reader.TransferRoots();
    GProp_GProps props;
    BRepGProp::VolumeProperties(reader.OneShape(), props);
    const double volume = session->activeDocument()->volume();
    EXPECT_NEAR(props.Mass(), volume, 1e-6 * volume);

    answer = dir.filePath("bolt.stl");
    window->saveStlAction()->trigger();
    EXPECT_EQ(asked.last(), "Сохранить как STL|STL (*.stl)|Деталь1.stl");
    EXPECT_GT(QFileInfo(answer).size(), 84 + 50 * 100);

    answer.clear(); // cancelled
    window->saveStepAction()->trigger();
    EXPECT_TRUE(effects.boxes().empty());

    answer = dir.filePath("no/such/folder/bolt.step");
    window->saveStepAction()->trigger();
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_EQ(effects.boxes()[0].caption, "Крепикс CAD");
    EXPECT_EQ(effects.boxes()[0].text, "Не удалось сохранить файл «" + answer + "».");
    EXPECT_EQ(effects.boxes()[0].icon, krepiks::BoxIcon::Error);
}

TEST_F(Window, AnEmptyPartHasNothingToSave) {
    Call(app.get(), u"Visible", {Variant::fromBool(true)}, CallKind::Put);
    Call(app.get(), u"NewDocument",
         {Variant::fromBStr(automation::BStr(automation::fromUtf8(KREPIKS_PART_TEMPLATE))),
          Variant::fromInt(0), Variant::fromInt(0), Variant::fromInt(0)});
    Settle();
    CadWindow* window = FindWindow();
    ASSERT_NE(window, nullptr);
    int asked = 0;
    window->choosePath = [&](const QString&, const QString&, const QString&) {
        ++asked;
        return QString("/tmp/never.step");
    };
    window->saveStepAction()->trigger();
    EXPECT_EQ(asked, 0);
    ASSERT_EQ(effects.boxes().size(), 1u);
    EXPECT_EQ(effects.boxes()[0].text, "В детали нет тела, сохранять нечего.");
    EXPECT_EQ(effects.boxes()[0].icon, krepiks::BoxIcon::Warning);
    EXPECT_FALSE(QFileInfo::exists("/tmp/never.step"));
}

// Calls served one event-loop turn apart, as over the bus: the window must not redraw (nor
// measure the volume) per call, yet show the last one once they stop.
TEST_F(Window, ChangesInQuickSuccessionAreDrawnAtABoundedRate) {
    CadWindow* window = Build();
    ASSERT_NE(window, nullptr);
    const auto doc = session->activeDocument();
    int paints = 0;
    QObject::connect(window->partView(), &PartView::painted, window, [&] { ++paints; });
    const auto start = std::chrono::steady_clock::now();
    constexpr int Changes = 300;
    for (int i = 0; i < Changes; ++i) {
        doc->rotateAboutCenter(0.001, 0);
        QCoreApplication::processEvents();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    Settle();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->showsLatest(); }, 60000));
    // However slowly the loop ran, no more than one redraw per 200 ms, and the last one after.
    EXPECT_LE(paints, 2 + elapsed / std::chrono::milliseconds(200));
    EXPECT_GE(paints, 1);
}

// Once the clients are done there is nothing to wait for: the last change is shown as soon
// as the event loop turns, without the pause that otherwise tells the calls have stopped.
TEST_F(Window, WhenTheClientsAreDoneTheLastChangeIsShownAtOnce) {
    CadWindow* window = Build();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->showsLatest(); }, 60000));
    session->activeDocument()->rotateAboutCenter(0.001, 0);
    ASSERT_FALSE(window->showsLatest());
    ASSERT_TRUE(window->refreshPending());
    // Posted events only: no timer fires here.
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(window->showsLatest()) << "still waiting for the calls to pause";
    session->view()->clientsDone();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(window->showsLatest());
    EXPECT_FALSE(window->refreshPending());
}

TEST_F(Window, ClickingADocumentShowsIt) {
    CadWindow* window = Build(SampleVariants().front());
    ASSERT_NE(window, nullptr);
    Build();
    QTreeWidget* tree = window->documentTree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(session->activeIndex(), 1) << "the newest document is active";
    EXPECT_EQ(window->partView()->document(), session->documents()[1]);
    QTreeWidgetItem* first = tree->topLevelItem(0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(first).center());
    Settle();
    EXPECT_EQ(session->activeIndex(), 0);
    EXPECT_EQ(window->partView()->document(), session->documents()[0]);
    EXPECT_EQ(window->windowTitle(), "Деталь1 — Крепикс CAD");
    EXPECT_TRUE(tree->topLevelItem(0)->font(0).bold());
}
