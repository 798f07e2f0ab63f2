#include "drawing_files.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

namespace krepiks::test {

ProgramRun RunProgram(const QString& program, const QStringList& arguments, const QString& folder,
                      const QByteArray& input) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted()) {
        run.err = process.errorString();
        return run;
    }
    process.write(input);
    process.closeWriteChannel();
    // Bounded by the test's own time-out; a hang is killed with the test.
    process.waitForFinished(-1);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

DrawingFolder::DrawingFolder() {
    const ProgramRun sample =
        RunProgram(QStringLiteral(KREPIKS_CATALOGUE_TOOL),
                   {QStringLiteral("sample"), dir_.filePath("bolti.mdb")}, dir_.path());
    ok_ = dir_.isValid() && sample.exitCode == 0;
}

ProgramRun DrawingFolder::drawing(const QStringList& arguments, const QByteArray& input) const {
    return RunProgram(QStringLiteral(KREPIKS_CATALOGUE_TOOL),
                      QStringList{QStringLiteral("drawing")} + arguments, dir_.path(), input);
}

QStringList DrawingFolder::files() const {
    QStringList names = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(QStringLiteral("bolti.mdb"));
    return names;
}

QString PdfText(const QString& file) {
    QString text = RunProgram(QStringLiteral("pdftotext"), {file, QStringLiteral("-")}, ".").out;
    return text.replace(QRegularExpression(QStringLiteral("[ \\t]+")), QStringLiteral(" "));
}

QString PdfPageSize(const QString& file) {
    const QString info = RunProgram(QStringLiteral("pdfinfo"), {file}, ".").out;
    for (const QString& line : info.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Page size:")))
            return line.simplified();
    return {};
}

QString PdfFonts(const QString& file) {
    return RunProgram(QStringLiteral("pdffonts"), {file}, ".").out;
}

ProgramRun Python(const QString& script, const QString& file) {
    return RunProgram(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, file},
                      ".");
}

} // namespace krepiks::test
