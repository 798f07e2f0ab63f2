// The CAD window's 3D view on OpenCASCADE's viewer, on a real X server with software OpenGL.
#include "cad/part_scene.h"
#include "cad/part_view.h"
#include "window_fixture.h"

#include <AIS_ListOfInteractive.hxx>
#include <AIS_Shape.hxx>
#include <Image_PixMap.hxx>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>
#include <TopExp_Explorer.hxx>
#include <cmath>
#include <numbers>
#include <set>
#include <vector>

using namespace krepiks::cad;
using namespace krepiks::cad::test;

namespace {

class OpenGlView : public WindowFixture {};

constexpr int Generous = 60000; // ms; only a stalled run comes near it

gp_Dir Proj(const PartScene& scene) {
    double x, y, z;
    scene.view()->Proj(x, y, z);
    return {x, y, z};
}

gp_Dir TowardsEye(const std::array<double, 9>& r) {
    return {r[6], r[7], r[8]};
}

// Pixels that differ from the background, which is one colour along each row.
struct Picture {
    int pixels = 0;
    int shades = 0;
    std::vector<Standard_Byte> bytes;
};

Picture Render(const PartScene& scene) {
    Picture p;
    Image_PixMap image;
    EXPECT_TRUE(scene.view()->ToPixMap(image, 320, 240));
    p.bytes.assign(image.Data(), image.Data() + image.SizeBytes());
    std::set<std::array<int, 3>> shades;
    for (Standard_Size y = 0; y < image.SizeY(); ++y) {
        const Quantity_ColorRGBA background = image.PixelColor(0, static_cast<int>(y));
        for (Standard_Size x = 0; x < image.SizeX(); ++x) {
            const Quantity_Color c =
                image.PixelColor(static_cast<int>(x), static_cast<int>(y)).GetRGB();
            if (c.Distance(background.GetRGB()) > 0.02) {
                ++p.pixels;
                shades.insert({static_cast<int>(c.Red() * 32), static_cast<int>(c.Green() * 32),
                               static_cast<int>(c.Blue() * 32)});
            }
        }
    }
    p.shades = static_cast<int>(shades.size());
    return p;
}

bool Same(const Picture& a, const Picture& b) {
    return a.bytes == b.bytes;
}

std::vector<Handle(AIS_InteractiveObject)> Shown(const PartScene& scene) {
    AIS_ListOfInteractive list;
    scene.context()->DisplayedObjects(list);
    return {list.begin(), list.end()};
}

// The presentation of the body: the one with faces, beside the reference axes.
Handle(AIS_Shape) Body(const PartScene& scene) {
    for (const auto& object : Shown(scene))
        if (auto shape = Handle(AIS_Shape)::DownCast(object);
            !shape.IsNull() && TopExp_Explorer(shape->Shape(), TopAbs_FACE).More())
            return shape;
    return {};
}

QAction* MenuAction(CadWindow* window, const char* name) {
    return window->findChild<QAction*>(QString::fromLatin1(name));
}

} // namespace

TEST_F(OpenGlView, ShowsThePartShadedAndTurnsAsTheMenuTheMouseAndTheScriptSay) {
    CadWindow* window = Build();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, Generous));
    PartView* view = window->partView();
    EXPECT_EQ(view->findChild<QLabel*>("PartViewUnavailable"), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([view] { return view->scene() != nullptr; }, Generous));
    const PartScene& scene = *view->scene();
    const auto doc = session->activeDocument();

    // The bolt, shaded with its edges, as the document's orientation shows it.
    const auto shown = Shown(scene);
    const Handle(AIS_Shape) body = Body(scene);
    ASSERT_FALSE(body.IsNull());
    EXPECT_EQ(body->DisplayMode(), AIS_Shaded);
    EXPECT_TRUE(body->Attributes()->FaceBoundaryDraw());
    EXPECT_TRUE(Proj(scene).IsEqual(TowardsEye(doc->view().rotation), 1e-6));
    const Picture first = Render(scene);
    EXPECT_GT(first.pixels, 320 * 240 / 20) << "the bolt covers the view";
    EXPECT_LT(first.pixels, 320 * 240 * 9 / 10) << "and fits in it";
    EXPECT_GT(first.shades, 8) << "lit, not flat";

    // Nothing changed: the same presentations, not made again.
    view->refresh();
    Settle();
    EXPECT_EQ(Shown(scene), shown);

    // The view menu's standard views.
    QAction* top = MenuAction(window, "TopViewAction");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->text(), "С&верху");
    top->trigger();
    EXPECT_TRUE(Proj(scene).IsEqual(gp::DY(), 1e-9));
    const Picture fromAbove = Render(scene);
    EXPECT_GT(fromAbove.pixels, 320 * 240 / 40);
    QAction* iso = MenuAction(window, "IsometricViewAction");
    ASSERT_NE(iso, nullptr);
    EXPECT_EQ(iso->text(), "&Изометрия");
    iso->trigger();
    EXPECT_TRUE(Proj(scene).IsEqual(gp_Dir(1, 1, 1), 1e-9));
    const Picture isometric = Render(scene);
    EXPECT_FALSE(Same(fromAbove, isometric));
    Settle();
    EXPECT_TRUE(Proj(scene).IsEqual(gp_Dir(1, 1, 1), 1e-9)) << "the window's refresh keeps it";
    EXPECT_EQ(Shown(scene), shown);

    // The script's turn and zoom to fit take effect once the window catches up.
    doc->rotateAboutCenter(0, std::numbers::pi / 2);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Proj(scene).IsEqual(TowardsEye(doc->view().rotation), 1e-6); }, Generous));
    EXPECT_FALSE(Proj(scene).IsEqual(gp_Dir(1, 1, 1), 1e-3));
    doc->zoomToFit();
    Settle();
    const double fitted = scene.view()->Scale();
    QWidget* viewport = view->findChild<QWidget*>("PartViewport");
    ASSERT_NE(viewport, nullptr);
    const QPointF centre = viewport->rect().center();
    auto wheelIn = [&] {
        QWheelEvent wheel(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, 240),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
    };
    wheelIn();
    EXPECT_GT(scene.view()->Scale(), fitted * 1.2) << "the wheel zooms in";
    doc->zoomToFit();
    Settle();
    EXPECT_NEAR(scene.view()->Scale(), fitted, fitted * 1e-6) << "the script fits it again";
    wheelIn();
    MenuAction(window, "ZoomToFitAction")->trigger();
    Settle();
    EXPECT_NEAR(scene.view()->Scale(), fitted, fitted * 1e-6) << "and so does the menu";

    // A person's orbit turns the view and becomes the document's orientation, which a
    // script's next turn starts from; it is not counted as a script's rotation.
    const auto before = doc->view().rotation;
    const int rotations = doc->view().rotations;
    const QPoint from = viewport->rect().center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport, from + QPoint(60, 20));
    QTest::mouseMove(viewport, from + QPoint(80, 30));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, from + QPoint(80, 30));
    EXPECT_NE(doc->view().rotation, before);
    EXPECT_EQ(doc->view().rotations, rotations);
    EXPECT_TRUE(Proj(scene).IsEqual(TowardsEye(doc->view().rotation), 1e-6));
    const auto& r = doc->view().rotation;
    EXPECT_NEAR(r[0] * r[0] + r[1] * r[1] + r[2] * r[2], 1, 1e-9);
    EXPECT_NEAR(r[0] * r[6] + r[1] * r[7] + r[2] * r[8], 0, 1e-9);
    // A right drag pans: the direction stays, the picture moves.
    const gp_Dir turned = Proj(scene);
    const Picture beforePan = Render(scene);
    QTest::mousePress(viewport, Qt::RightButton, {}, from);
    QTest::mouseMove(viewport, from + QPoint(40, 0));
    QTest::mouseRelease(viewport, Qt::RightButton, {}, from + QPoint(40, 0));
    EXPECT_TRUE(Proj(scene).IsEqual(turned, 1e-9));
    EXPECT_FALSE(Same(beforePan, Render(scene)));

    // Another part shows its own body.
    Build(SampleVariants().front());
    ASSERT_TRUE(QTest::qWaitFor([&] { return session->activeIndex() == 1; }, Generous));
    Settle();
    EXPECT_EQ(view->document(), session->documents()[1]);
    ASSERT_FALSE(Body(scene).IsNull());
    EXPECT_NE(Body(scene), body);
    EXPECT_GT(Render(scene).pixels, 320 * 240 / 20);
}
