// The design window's layout, its first state and the controls enabled in each mode.
#include "design_session.h"

#include "catalogue/database.h"
#include "model/bolt.h"
#include "platform/exception.h"
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
    EXPECT_EQ(f->windowTitle(), QStringLiteral("Проектирование болтов"));
    EXPECT_EQ(f->GroupBox13->size(), QSize(706, 600));
    EXPECT_EQ(f->GroupBox1->height(), 87);
    EXPECT_EQ(f->GroupBox1->title(), QStringLiteral("Исходные  данные"));
    EXPECT_EQ(f->Panel1->height(), 95);
    EXPECT_EQ(f->Panel3->height(), 40);
    EXPECT_EQ(f->Panel3->geometry().bottom(), f->GroupBox13->height() - 3);
    EXPECT_EQ(f->Image1->geometry(), QRect(2, 18, 698, 338));
    EXPECT_EQ(f->Image1->pixmap().size(), BoltDrawing().size());
    EXPECT_FALSE(f->Image1->hasScaledContents());

    const struct {
        int number;
        QRect geometry;
    } places[] = {{1, {168, 32, 57, 24}},   {2, {242, 60, 57, 24}},   {3, {281, 94, 57, 24}},
                  {4, {416, 94, 57, 24}},   {5, {32, 219, 57, 24}},   {6, {68, 318, 57, 24}},
                  {7, {208, 250, 57, 24}},  {8, {228, 280, 57, 24}},  {9, {264, 318, 57, 24}},
                  {10, {335, 251, 46, 24}}, {11, {452, 211, 57, 24}}, {12, {477, 280, 57, 24}},
                  {13, {618, 48, 57, 24}},  {14, {611, 255, 45, 24}}};
    for (const auto& place : places) {
        QLineEdit* box = edit(place.number);
        EXPECT_EQ(box->parentWidget(), f->GroupBox2) << place.number;
        EXPECT_EQ(box->geometry(), place.geometry) << place.number;
        EXPECT_EQ(box->font().pixelSize(), 13);
        EXPECT_TRUE(box->font().bold());
        EXPECT_EQ(box->palette().color(QPalette::Text), QColor(Qt::blue));
    }

    EXPECT_EQ(f->RadioButton2->geometry(), QRect(15, 25, 284, 14));
    EXPECT_EQ(f->RadioButton2->text(), QStringLiteral("Выбрать исмполнение болта из списка"));
    EXPECT_EQ(f->RadioButton1->geometry(), QRect(15, 57, 341, 14));
    EXPECT_EQ(f->RadioButton1->text(),
              QStringLiteral("Создать новое исполнение болта и ввести размеры"));
    EXPECT_EQ(f->ComboBox1->geometry().topLeft(), QPoint(335, 21));
    EXPECT_EQ(f->ComboBox1->width(), 340);
    EXPECT_TRUE(f->ComboBox1->isEditable());
    EXPECT_EQ(f->Button1->geometry(), QRect(384, 49, 291, 24));
    EXPECT_EQ(f->Button1->text(), QStringLiteral("Добавить новое исполнение"));
    EXPECT_EQ(f->Button1->font().pixelSize(), 16);
    EXPECT_EQ(f->Label1->text(), QStringLiteral("Путь к файлу шаблона детали SolidWorks:"));
    EXPECT_EQ(f->Label1->pos(), QPoint(13, 10));
    EXPECT_EQ(f->Button4->geometry(), QRect(450, 8, 175, 20));
    EXPECT_EQ(f->Button4->text(), QStringLiteral("Принять новый путь"));
    EXPECT_EQ(f->Edit15->geometry(), QRect(13, 35, 676, 21));
    EXPECT_EQ(f->Button2->geometry(), QRect(22, 65, 314, 24));
    EXPECT_EQ(f->Button2->text(), QStringLiteral("Построить 3D-модель в SolidWorks"));
    EXPECT_EQ(f->Button3->geometry(), QRect(426, 65, 199, 24));
    EXPECT_EQ(f->Button3->text(), QStringLiteral("Закрыть SolidWorks"));
    for (QWidget* hand : {static_cast<QWidget*>(f->Button1), static_cast<QWidget*>(f->Button2),
                          static_cast<QWidget*>(f->Button3), static_cast<QWidget*>(f->Label17)})
        EXPECT_EQ(hand->cursor().shape(), Qt::PointingHandCursor) << hand->objectName().data();

    EXPECT_EQ(f->Label17->text(), FooterLinkCaption());
    EXPECT_EQ(f->Label17->geometry(), QRect(61, 5, 582, 24));
    EXPECT_TRUE(f->Label17->font().underline());
    EXPECT_EQ(f->Label17->font().pixelSize(), 19);
    EXPECT_EQ(f->Label17->palette().color(QPalette::WindowText), QColor(Qt::red));

    const QList<QAction*> top = f->MainMenu1->actions();
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(top[0], f->N7);
    EXPECT_EQ(top[0]->text(), QStringLiteral("&Таблица исполнений болтов"));
    EXPECT_EQ(top[1], f->N1->menuAction());
    EXPECT_EQ(f->N1->title(), QStringLiteral("&Справка"));
    ASSERT_EQ(f->N1->actions().size(), 1);
    EXPECT_EQ(f->N1->actions()[0], f->N5);
    EXPECT_EQ(f->N5->text(), QStringLiteral("О программе"));
    EXPECT_EQ(top[2], f->N6);
    EXPECT_EQ(top[2]->text(), QStringLiteral("&Закрыть программу"));

    for (const char* name : {"GroupBox13", "GroupBox1", "GroupBox2", "Panel1", "Panel3", "Image1",
                             "Label1", "Label17", "ComboBox1", "RadioButton1", "RadioButton2",
                             "Button1", "Button2", "Button3", "Button4", "Edit15", "MainMenu1"})
        EXPECT_NE(f->findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    for (const char* name : {"N5", "N6", "N7"})
        EXPECT_NE(f->findChild<QAction*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_NE(f->findChild<QMenu*>(QStringLiteral("N1")), nullptr);
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
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    form()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form()));

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
