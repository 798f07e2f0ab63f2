#pragma once
// Runs krepiks-catalogue in a folder of the test's own and reads its drawings back with
// readers that are not Krepiks's: pdftotext, pdfinfo and pdffonts, Python's XML parser, ezdxf.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace krepiks::test {

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

// A program run to its end, with input on its standard input.
ProgramRun RunProgram(const QString& program, const QStringList& arguments, const QString& folder,
                      const QByteArray& input = {});

// A folder holding the sample catalogue as bolti.mdb.
class DrawingFolder {
public:
    DrawingFolder();
    QString path(const QString& name) const { return dir_.filePath(name); }
    // krepiks-catalogue drawing with the arguments, in the folder.
    ProgramRun drawing(const QStringList& arguments, const QByteArray& input = {}) const;
    // Every file of the folder but the catalogue.
    QStringList files() const;
    bool ok() const { return ok_; }

private:
    QTemporaryDir dir_;
    bool ok_ = false;
};

// pdftotext's text of the file (its lines' blanks squeezed).
QString PdfText(const QString& file);
// "Page size:" line of pdfinfo.
QString PdfPageSize(const QString& file);
// pdffonts's table.
QString PdfFonts(const QString& file);
// A Python script on the file, its standard output; the script gets the file as sys.argv[1].
ProgramRun Python(const QString& script, const QString& file);

} // namespace krepiks::test
