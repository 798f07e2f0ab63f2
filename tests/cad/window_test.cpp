// The CAD application's window, driven as a person would.
#include "bolt_steps.h"
#include "model/solidworks.h"
#include "cad/cad_window.h"
#include "cad/part_view.h"
#include "support/recording_effects.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>
#include <chrono>
#include <STEPControl_Reader.hxx>
#include <filesystem>
#include <gtest/gtest.h>
#include <numbers>

using namespace krepiks::cad;
using namespace krepiks::cad::test;
using automation::CallKind;
using automation::DispatchPtr;
using automation::Variant;
using krepiks::test::RecordingEffects;

namespace {

CadWindow* FindWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<CadWindow*>(w); window && window->isVisible())
            return window;
    return nullptr;
}

// Until the window (if one shows) has caught up with every change.
void Settle() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    const QPointer<CadWindow> window = FindWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window || !window->refreshPending(); }));
    QCoreApplication::processEvents();
}

QStringList Children(QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i)
        names << item->child(i)->text(0);
    return names;
}

// Pixels that are not the background, and the extent they cover.
struct Silhouette {
    int pixels = 0;
    int width = 0, height = 0;
};

Silhouette SilhouetteOf(const QImage& image) {
    Silhouette s;
    int x0 = image.width(), x1 = -1, y0 = image.height(), y1 = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb background = ViewBackground(y, image.height()).rgb();
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) {
                ++s.pixels;
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    }
    s.width = x1 - x0 + 1;
    s.height = y1 - y0 + 1;
    return s;
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        InstallCadWindows();
        RegisterCadServer();
        Start();
    }
    void TearDown() override {
        krepiks::ReleaseSolidWorks();
        if (session)
            session->quit();
        Settle();
        UnregisterCadServer();
        SetSessionViewFactory(nullptr);
    }
    // Creates the application as the program does, or joins the one that runs.
    void Start() {
        automation::CLSID clsid;
        automation::CLSIDFromProgID(CadProgId, &clsid);
        automation::CoCreateInstance(clsid, nullptr, 5, app.put());
        session = RunningCadSession();
    }
    // The program's build; the window then catches up.
    CadWindow* Build(const BoltDims& d = WorkedExample()) {
        krepiks::TBolt bolt = BoltOf(d);
        krepiks::BuildModel(bolt);
        Settle();
        return FindWindow();
    }

    RecordingEffects effects;
    std::shared_ptr<CadSession> session;
    DispatchPtr app;
};

} // namespace

TEST_F(Window, VisibleShowsTheDocumentsTheirFeaturesAndTheShadedPart) {
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

    window->resize(800, 500);
    Settle();
    const QImage shown = window->partView()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const Silhouette s = SilhouetteOf(shown);
    EXPECT_GT(s.pixels, shown.width() * shown.height() / 20) << "the bolt covers the view";
    EXPECT_EQ(shown.pixel(2, 2), ViewBackground(2, shown.height()).rgb());
}

TEST_F(Window, TheViewLooksAlongItsOrientation) {
    PartDocument doc(ShippedTemplate(), "view");
    const QSize size(400, 400);
    EXPECT_EQ(SilhouetteOf(RenderPart(doc, size)).pixels, 0) << "an empty part shows nothing";
    ASSERT_TRUE(BuildBolt(doc, WorkedExample()).chamfer);
    // Straight at the front plane, the bolt lies along the screen: 67.5 mm by 20 mm at most.
    doc.setViewRotation({1, 0, 0, 0, 1, 0, 0, 0, 1});
    const Silhouette side = SilhouetteOf(RenderPart(doc, size));
    EXPECT_GT(side.width, 3 * side.height);
    // Turned a quarter round the vertical, it is seen end on: a hexagon, about as wide as high.
    doc.rotateAboutCenter(0, std::numbers::pi / 2);
    const Silhouette end = SilhouetteOf(RenderPart(doc, size));
    const double aspect = static_cast<double>(end.width) / end.height;
    EXPECT_NEAR(std::min(aspect, 1 / aspect), std::sqrt(3.0) / 2, 0.03);
    EXPECT_LT(end.width, side.width / 2);
    // Zooming in makes it larger on screen.
    EXPECT_GT(SilhouetteOf(RenderPart(doc, size, 1.5)).pixels, end.pixels * 2);
}

TEST_F(Window, DraggingOrbitsAndTheWheelZooms) {
    CadWindow* window = Build();
    ASSERT_NE(window, nullptr);
    PartView* view = window->partView();
    const auto doc = session->activeDocument();
    const auto before = doc->view().rotation;
    const QPoint from = view->rect().center();
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, from + QPoint(60, 20));
    QTest::mouseRelease(view, Qt::LeftButton, {}, from + QPoint(60, 20));
    EXPECT_NE(doc->view().rotation, before);
    EXPECT_EQ(doc->view().rotations, 133) << "a person's orbit is not a script rotation";
    // Still a rotation: rows stay of unit length.
    const auto& r = doc->view().rotation;
    EXPECT_NEAR(r[0] * r[0] + r[1] * r[1] + r[2] * r[2], 1, 1e-12);

    QWheelEvent wheel(QPointF(from), view->mapToGlobal(QPointF(from)), QPoint(), QPoint(0, 240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
    EXPECT_GT(view->zoom(), 1.2);
    // The script's zoom to fit sets it back.
    doc->zoomToFit();
    Settle();
    EXPECT_DOUBLE_EQ(view->zoom(), 1.0);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->showsLatest(); }));
    // However slowly the loop ran, no more than one redraw per 200 ms, and the last one after.
    EXPECT_LE(paints, 2 + elapsed / std::chrono::milliseconds(200));
    EXPECT_GE(paints, 1);
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
