#pragma once
// A temporary working folder holding a bolti.mdb, made current for the test's lifetime.
#include <QString>
#include <QTemporaryDir>

namespace krepiks::test {

class TestCatalogue {
public:
    enum class Contents { Sample, EmptyTables, NoFile };
    explicit TestCatalogue(Contents contents = Contents::Sample,
                           const QString& templatePath = QStringLiteral("/tmp/part.kprt"));
    ~TestCatalogue();

    QString folder() const { return dir_.path(); }
    QString file() const;

    // Runs SQL directly on the file (not through the program's connection).
    void exec(const QString& sql) const;
    // The single value of a query, as text ("" for NULL); fails the test on error.
    QString scalar(const QString& sql) const;
    int rowCount(const QString& table) const;

private:
    QTemporaryDir dir_;
    QString previous_;
};

// Creates a catalogue file from the sample script at path (with the template path filled in).
void WriteSampleCatalogue(const QString& path, const QString& templatePath);

} // namespace krepiks::test
