// The design window's layout, its first state and the controls enabled in each mode.
#include "design_session.h"

#include "catalogue/database.h"
#include "model/bolt.h"
#include "platform/bevel_panel.h"
#include "platform/exception.h"
#include "platform/link_label.h"
#include "resources/drawing.h"
#include "shell/application.h"
#include "shell/web_address.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

using namespace krepiks;
using namespace krepiks::test;

namespace {

const int TypedBoxes[] = {1, 2, 3, 4, 6, 7, 9, 10, 11, 13, 14};
const int DerivedBoxes[] = {5, 8, 12};

} // namespace

TEST(DesignWindowCreation, StartsUnselectedAndFailsWithoutCatalogue) {
    {
        TestCatalogue catalogue;
        CreateForms();
        EXPECT_FALSE(Form4->RadioButton1->isChecked());
        EXPECT_FALSE(Form4->RadioButton2->isChecked());
        EXPECT_FALSE(Form4->Button3->isEnabled());
        EXPECT_TRUE(Form4->ADOConnection1->Connected());
        EXPECT_EQ(Form4->ComboBox1->count(), 0); // filled only on activation
        DestroyForms();
    }
    TestCatalogue none(TestCatalogue::Contents::NoFile);
    EXPECT_THROW(CreateForms(), EDatabaseError);
    DestroyForms();
}

TEST_F(DesignWindowTest, LayoutPlacesEveryComponent) {
    start();
    TForm4* f = form();
    EXPECT_EQ(f->GroupBox13->size(), QSize(706, 600));
    // Found by their layout names, at their places within their parents.
    const struct {
        const char* name;
        QRect geometry;
    } places[] = {
        {"GroupBox1", {2, 18, 702, 87}},     {"GroupBox2", {2, 105, 702, 453}},
        {"Panel3", {2, 558, 702, 40}},       {"Image1", {2, 18, 698, 338}},
        {"Panel1", {2, 356, 698, 95}},       {"RadioButton2", {15, 25, 284, 14}},
        {"RadioButton1", {15, 57, 341, 14}}, {"Button1", {384, 49, 291, 24}},
        {"Button4", {450, 8, 175, 20}},      {"Edit15", {13, 35, 676, 21}},
        {"Button2", {22, 65, 314, 24}},      {"Button3", {426, 65, 199, 24}},
        {"Label17", {61, 5, 582, 24}},       {"Edit1", {168, 32, 57, 24}},
        {"Edit2", {242, 60, 57, 24}},        {"Edit3", {281, 94, 57, 24}},
        {"Edit4", {416, 94, 57, 24}},        {"Edit5", {32, 219, 57, 24}},
        {"Edit6", {68, 318, 57, 24}},        {"Edit7", {208, 250, 57, 24}},
        {"Edit8", {228, 280, 57, 24}},       {"Edit9", {264, 318, 57, 24}},
        {"Edit10", {335, 251, 46, 24}},      {"Edit11", {452, 211, 57, 24}},
        {"Edit12", {477, 280, 57, 24}},      {"Edit13", {618, 48, 57, 24}},
        {"Edit14", {611, 255, 45, 24}},
    };
    for (const auto& place : places) {
        auto* widget = f->findChild<QWidget*>(QString::fromLatin1(place.name));
        ASSERT_NE(widget, nullptr) << place.name;
        EXPECT_EQ(widget->geometry(), place.geometry) << place.name;
    }
    for (int n = 1; n <= 14; ++n) {
        EXPECT_EQ(edit(n)->parentWidget(), f->GroupBox2);
        EXPECT_EQ(edit(n)->font().pixelSize(), 13);
        EXPECT_TRUE(edit(n)->font().bold());
        EXPECT_EQ(edit(n)->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::blue));
    }
    EXPECT_EQ(f->ComboBox1->pos(), QPoint(335, 21));
    EXPECT_EQ(f->ComboBox1->width(), 340);
    EXPECT_EQ(f->Image1->pixmap().size(), BoltDrawing().size());
    EXPECT_FALSE(f->Image1->hasScaledContents());
    EXPECT_EQ(f->Label17->text(), FooterLinkCaption());
    EXPECT_TRUE(f->Label17->font().underline());
    EXPECT_EQ(f->Label17->cursor().shape(), Qt::PointingHandCursor);

    // The menu bar in its order, with the about entry as the only one under "&Справка" and
    // the drawing's menu before it.
    const QList<QAction*> top = f->MainMenu1->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[0], f->findChild<QAction*>("N7"));
    EXPECT_EQ(top[1], f->findChild<QMenu*>("N8")->menuAction());
    EXPECT_EQ(top[2], f->findChild<QMenu*>("N1")->menuAction());
    EXPECT_EQ(top[3], f->findChild<QAction*>("N6"));
    EXPECT_EQ(f->N1->actions(), QList<QAction*>{f->findChild<QAction*>("N5")});
    EXPECT_EQ(top[3]->text(), QStringLiteral("&Закрыть программу"));
}

TEST_F(DesignWindowTest, FirstActivationEntersListMode) {
    start();
    TForm4* f = form();
    EXPECT_TRUE(f->RadioButton2->isChecked());
    EXPECT_FALSE(f->RadioButton1->isChecked());
    EXPECT_TRUE(f->ComboBox1->isEnabled());
    EXPECT_EQ(f->ComboBox1->currentText(), QString());
    EXPECT_EQ(QApplication::focusWidget(), f->ComboBox1);
    const QStringList entries = listEntries();
    ASSERT_EQ(entries.size(), 12);
    EXPECT_EQ(entries.front(), "M6x40");
    EXPECT_EQ(entries[1], "M8x50");
    EXPECT_EQ(entries.back(), "M24x130");
    EXPECT_FALSE(f->Button1->isEnabled());
    EXPECT_FALSE(f->Button2->isEnabled());
    EXPECT_FALSE(f->Button3->isEnabled());
    for (int n = 1; n <= 14; ++n)
        EXPECT_FALSE(edit(n)->isEnabled()) << n;
    EXPECT_EQ(f->Edit15->text(), "/tmp/part.kprt");
    EXPECT_EQ(Bolt.TemplatePath, "/tmp/part.kprt");
    EXPECT_TRUE(f->Edit15->isEnabled());
    EXPECT_TRUE(f->Button4->isEnabled());
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(DesignWindowTest, LaterActivationsDoNotInitialiseAgain) {
    start();
    clickRadio(form()->RadioButton1);
    ASSERT_TRUE(form()->RadioButton1->isChecked());
    catalogue->exec("insert into \"Размеры\" (isp) values ('late')");

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other, 60000));
    form()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form(), 60000));

    EXPECT_TRUE(form()->RadioButton1->isChecked());
    EXPECT_FALSE(form()->ComboBox1->isEnabled());
    EXPECT_TRUE(form()->Button1->isEnabled());
    EXPECT_EQ(listEntries().size(), 12);
    EXPECT_EQ(edit(1)->text(), "30");
}

TEST_F(DesignWindowTest, ControlsEnabledInEachMode) {
    start();
    TForm4* f = form();
    choose(0);
    EXPECT_TRUE(f->Button2->isEnabled());
    EXPECT_FALSE(f->Button1->isEnabled());
    EXPECT_FALSE(f->Button3->isEnabled());
    EXPECT_TRUE(f->ComboBox1->isEnabled());
    for (int n = 1; n <= 14; ++n)
        EXPECT_FALSE(edit(n)->isEnabled()) << n;

    clickRadio(f->RadioButton1);
    EXPECT_TRUE(f->RadioButton1->isChecked());
    EXPECT_FALSE(f->RadioButton2->isChecked());
    EXPECT_FALSE(f->ComboBox1->isEnabled());
    EXPECT_TRUE(f->Button1->isEnabled());
    EXPECT_FALSE(f->Button2->isEnabled());
    EXPECT_FALSE(f->Button3->isEnabled());
    for (int n : TypedBoxes)
        EXPECT_TRUE(edit(n)->isEnabled()) << n;
    for (int n : DerivedBoxes)
        EXPECT_FALSE(edit(n)->isEnabled()) << n;
    EXPECT_TRUE(f->Edit15->isEnabled());
    EXPECT_TRUE(f->Button4->isEnabled());
    EXPECT_TRUE(f->N7->isEnabled());
    // A new variant starts from the angle defaults and nothing else.
    EXPECT_EQ(boxTexts(),
              QStringList({"30", "", "", "", "", "", "45", "", "", "45", "", "", "", ""}));
    EXPECT_EQ(Bolt.a, 30);
    EXPECT_EQ(Bolt.b, 45);
    EXPECT_EQ(Bolt.c, 45);
    EXPECT_DOUBLE_EQ(Bolt.d0, 5.2); // kept from the variant until typed
    EXPECT_TRUE(effects.boxes().empty());

    typeInto(edit(4), "11");
    clickRadio(f->RadioButton2); // leaves the box first
    EXPECT_EQ(Bolt.d0, 11);
    EXPECT_TRUE(f->RadioButton2->isChecked());
    EXPECT_TRUE(f->ComboBox1->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), f->ComboBox1);
    EXPECT_EQ(f->ComboBox1->currentText(), QString());
    EXPECT_FALSE(f->Button1->isEnabled());
    EXPECT_FALSE(f->Button2->isEnabled());
    for (int n = 1; n <= 14; ++n)
        EXPECT_FALSE(edit(n)->isEnabled()) << n;
    // The typed texts stay in the locked boxes.
    EXPECT_EQ(edit(4)->text(), "11");
    EXPECT_EQ(edit(1)->text(), "30");
    EXPECT_TRUE(effects.boxes().empty());
}

TEST_F(DesignWindowTest, CatalogueErrorDuringInitialisationIsReportedAndWindowStaysUsable) {
    start(TestCatalogue::Contents::Sample, [](TestCatalogue& c) { c.exec("drop table swApp"); });
    const auto boxes = effects.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, ApplicationTitle);
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_TRUE(boxes[0].text.contains("swApp")) << boxes[0].text.toStdString();
    // Steps before the failure stay done.
    EXPECT_TRUE(form()->RadioButton2->isChecked());
    EXPECT_EQ(listEntries().size(), 12);
    EXPECT_TRUE(form()->isVisible());

    clickRadio(form()->RadioButton1);
    EXPECT_TRUE(form()->Button1->isEnabled());
    EXPECT_TRUE(edit(4)->isEnabled());
}
