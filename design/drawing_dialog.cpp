#include "design/drawing_dialog.h"

#include "platform/ui_effects.h"
#include "shell/error_report.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

namespace krepiks {

namespace {

double readDensity(const QString& text, bool* ok) {
    QString plain = text.trimmed();
    plain.replace(QLatin1Char(','), QLatin1Char('.'));
    const double value = plain.toDouble(ok);
    *ok = *ok && value > 0;
    return value;
}

} // namespace

DrawingDialog::DrawingDialog(const DrawingChoice& initial, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DrawingDialog"));
    setWindowTitle(QStringLiteral("Сохранить чертёж"));
    auto* form = new QFormLayout(this);

    fileEdit = new QLineEdit(initial.file, this);
    fileEdit->setObjectName(QStringLiteral("fileEdit"));
    fileEdit->setMinimumWidth(360);
    auto* browseButton = new QPushButton(QStringLiteral("Обзор…"), this);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(fileEdit);
    fileRow->addWidget(browseButton);
    form->addRow(QStringLiteral("Файл (PDF, SVG или DXF):"), fileRow);

    designationEdit = new QLineEdit(initial.designation, this);
    designationEdit->setObjectName(QStringLiteral("designationEdit"));
    form->addRow(QStringLiteral("Обозначение:"), designationEdit);
    materialEdit = new QLineEdit(initial.material, this);
    materialEdit->setObjectName(QStringLiteral("materialEdit"));
    materialEdit->setPlaceholderText(QStringLiteral("Сталь 35 ГОСТ 1050-2013"));
    form->addRow(QStringLiteral("Материал:"), materialEdit);
    densityEdit = new QLineEdit(QLocale(QLocale::Russian).toString(initial.density, 'g', 15), this);
    densityEdit->setObjectName(QStringLiteral("densityEdit"));
    form->addRow(QStringLiteral("Плотность, г/см³:"), densityEdit);
    authorEdit = new QLineEdit(initial.author, this);
    authorEdit->setObjectName(QStringLiteral("authorEdit"));
    form->addRow(QStringLiteral("Разработал:"), authorEdit);

    auto* buttons = new QDialogButtonBox(this);
    saveButton = buttons->addButton(QStringLiteral("Сохранить"), QDialogButtonBox::AcceptRole);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    form->addRow(buttons);

    connect(browseButton, &QPushButton::clicked, this, [this] { browse(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { check(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

DrawingChoice DrawingDialog::choice() const {
    DrawingChoice choice;
    choice.file = fileEdit->text().trimmed();
    choice.designation = designationEdit->text().trimmed();
    choice.material = materialEdit->text().trimmed();
    bool ok = false;
    choice.density = readDensity(densityEdit->text(), &ok);
    choice.author = authorEdit->text().trimmed();
    return choice;
}

void DrawingDialog::browse() {
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить чертёж"), fileEdit->text(),
                                     QStringLiteral("PDF (*.pdf);;SVG (*.svg);;DXF (*.dxf)"),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
    if (!file.isEmpty())
        fileEdit->setText(file);
}

void DrawingDialog::check() {
    bool ok = false;
    readDensity(densityEdit->text(), &ok);
    if (fileEdit->text().trimmed().isEmpty()) {
        showMessage(ApplicationTitle, QStringLiteral("Укажите файл чертежа!"), BoxIcon::Warning);
        uiEffects().setFocus(fileEdit);
        return;
    }
    if (!ok) {
        showMessage(ApplicationTitle, QStringLiteral("Плотность должна быть положительным числом!"),
                    BoxIcon::Warning);
        uiEffects().setFocus(densityEdit);
        return;
    }
    accept();
}

} // namespace krepiks
