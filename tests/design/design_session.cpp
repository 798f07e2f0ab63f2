#include "design_session.h"

#include "shell/application.h"
#include "support/hand_over.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>

namespace krepiks::test {

void DesignWindowTest::TearDown() {
    DestroyForms();
    catalogue.reset();
}

void DesignWindowTest::start(TestCatalogue::Contents contents,
                             const std::function<void(TestCatalogue&)>& prepare) {
    catalogue.emplace(contents);
    if (prepare)
        prepare(*catalogue);
    CreateForms();
    ASSERT_TRUE(HandOverToDesignWindow());
}

QLineEdit* DesignWindowTest::edit(int number) const {
    auto* box = Form4->findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(number));
    EXPECT_NE(box, nullptr) << "Edit" << number;
    return box;
}

void DesignWindowTest::click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}

void DesignWindowTest::clickRadio(QRadioButton* button) {
    // On the indicator: the label may end before the middle of the button.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

void DesignWindowTest::typeInto(QLineEdit* box, const QString& text) {
    click(box);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    // keyClicks only takes Latin-1 keys; the text of each press is what the box inserts.
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

void DesignWindowTest::tabOut(QLineEdit* box) {
    QTest::keyClick(box, Qt::Key_Tab);
}

void DesignWindowTest::enter(QLineEdit* box, const QString& text) {
    typeInto(box, text);
    tabOut(box);
}

void DesignWindowTest::dropText(QLineEdit* box, const QString& text) {
    QMimeData data;
    data.setText(text);
    const QPoint at(box->width() - 2, box->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box, &move);
    ASSERT_TRUE(move.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box, &drop);
    ASSERT_TRUE(drop.isAccepted());
}

void DesignWindowTest::typeVariant() {
    typeInto(edit(4), "10.4");
    typeInto(edit(3), "12");
    typeInto(edit(11), "8.4");
    typeInto(edit(14), "18");
    typeInto(edit(2), "0.6");
    typeInto(edit(6), "7.5");
    typeInto(edit(9), "70");
    typeInto(edit(13), "20.03");
    click(form()->Button1);
}

void DesignWindowTest::choose(int index) {
    QComboBox* list = Form4->ComboBox1;
    list->showPopup();
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window(), 60000));
    const QModelIndex entry = view->model()->index(index, 0);
    view->scrollTo(entry);
    const QRect item = view->visualRect(entry);
    ASSERT_TRUE(view->viewport()->rect().contains(item.center()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    QTRY_VERIFY_WITH_TIMEOUT(!view->window()->isVisible(), 60000);
}

void DesignWindowTest::chooseName(const QString& name) {
    const int index = Form4->ComboBox1->findText(name);
    ASSERT_GE(index, 0) << name.toStdString();
    choose(index);
}

QStringList DesignWindowTest::boxTexts() const {
    QStringList texts;
    for (int n = 1; n <= 14; ++n)
        texts << edit(n)->text();
    return texts;
}

QStringList DesignWindowTest::listEntries() const {
    QStringList entries;
    for (int i = 0; i < Form4->ComboBox1->count(); ++i)
        entries << Form4->ComboBox1->itemText(i);
    return entries;
}

std::vector<QString> DesignWindowTest::boxMessages() const {
    std::vector<QString> texts;
    for (const MessageBoxRequest& box : effects.boxes())
        texts.push_back(box.text);
    return texts;
}

} // namespace krepiks::test
