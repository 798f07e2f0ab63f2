#include "design/drawing_export.h"

#include "design/drawing_dialog.h"
#include "install/install_layout.h"
#include "platform/exception.h"
#include "platform/ui_effects.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace krepiks {

namespace {

// A drawing takes well under a second; a program that has not finished in this long hangs.
constexpr int DrawingTimeoutMs = 120000;

QSettings settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("krepiks"),
                     QStringLiteral("drawing"));
}

QString accountName() {
    if (const passwd* entry = getpwuid(getuid())) {
        const QString full =
            QString::fromLocal8Bit(entry->pw_gecos).section(QLatin1Char(','), 0, 0).trimmed();
        return full.isEmpty() ? QString::fromLocal8Bit(entry->pw_name) : full;
    }
    return {};
}

QByteArray number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// The record as krepiks-catalogue reads it on its standard input.
QByteArray recordOf(const TBolt& bolt) {
    QByteArray record = "isp=" + QByteArray::fromStdString(bolt.isp) + '\n';
    const struct {
        const char* name;
        double value;
    } fields[] = {{"d0", bolt.d0}, {"d1", bolt.d1}, {"d2", bolt.d2}, {"D", bolt.D},   {"R", bolt.R},
                  {"K", bolt.K},   {"L", bolt.L},   {"L2", bolt.L2}, {"L3", bolt.L3}, {"a", bolt.a},
                  {"b", bolt.b},   {"c", bolt.c},   {"S", bolt.S},   {"e", bolt.e}};
    for (const auto& field : fields)
        record += QByteArray(field.name) + '=' + number(field.value) + '\n';
    record += "template=" + QByteArray::fromStdString(bolt.TemplatePath) + '\n';
    return record;
}

} // namespace

void SaveBoltDrawing(QWidget* parent, const TBolt& bolt) {
    QSettings stored = settings();
    const QString isp = QString::fromStdString(bolt.isp);
    DrawingChoice initial;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString base = isp.isEmpty() ? QStringLiteral("болт") : isp;
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    initial.file = QDir(documents.isEmpty() ? QDir::homePath() : documents)
                       .absoluteFilePath(base + QStringLiteral(".pdf"));
    initial.designation = isp;
    initial.material = stored.value(QStringLiteral("material")).toString();
    initial.density = stored.value(QStringLiteral("density"), 7.85).toDouble();
    initial.author = stored.value(QStringLiteral("author"), accountName()).toString();

    DrawingDialog dialog(initial, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const DrawingChoice choice = dialog.choice();
    stored.setValue(QStringLiteral("material"), choice.material);
    stored.setValue(QStringLiteral("density"), choice.density);
    stored.setValue(QStringLiteral("author"), choice.author);
    stored.sync();

    uiEffects().setWaitCursor();
    struct RestoreCursor {
        ~RestoreCursor() { uiEffects().restoreCursor(); }
    } restore;
    QProcess program;
    program.setProgram(QString::fromStdString(install::ProgramPath("krepiks-catalogue")));
    program.setArguments({QStringLiteral("drawing"), QStringLiteral("--record"),
                          QStringLiteral("-"), QFileInfo(choice.file).absoluteFilePath(),
                          QStringLiteral("--designation"), choice.designation,
                          QStringLiteral("--material"), choice.material,
                          QStringLiteral("--density"), QString::number(choice.density, 'g', 17),
                          QStringLiteral("--author"), choice.author});
    program.start();
    if (!program.waitForStarted())
        throw Exception(QStringLiteral("Программа чертежей не запускается: %1")
                            .arg(program.errorString())
                            .toStdString());
    program.write(recordOf(bolt));
    program.closeWriteChannel();
    if (!program.waitForFinished(DrawingTimeoutMs)) {
        program.kill();
        program.waitForFinished();
        throw Exception("Чертёж не сделан: программа чертежей не ответила вовремя");
    }
    if (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0) {
        QString why = QString::fromUtf8(program.readAllStandardError()).trimmed();
        why.remove(QStringLiteral("krepiks-catalogue: "));
        throw Exception(
            (QStringLiteral("Чертёж не сделан: ") + (why.isEmpty() ? program.errorString() : why))
                .toStdString());
    }
}

} // namespace krepiks
