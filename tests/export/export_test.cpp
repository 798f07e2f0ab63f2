// krepiks-catalogue export as a design office runs it into its parts library: the sample
// catalogue into an empty folder and again, its drawings against the drawing command's, a run
// killed and resumed, names that cannot be file names as they are, and a variant the CAD
// program refuses among good ones.
#include "cad/cad_server.h"
#include "drawing_files.h"
#include "model/solidworks.h"
#include "support/test_catalogue.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <STEPControl_Reader.hxx>
#include <csignal>
#include <gtest/gtest.h>
#include <map>

using namespace krepiks;
using namespace krepiks::test;

namespace {

struct CommandRun {
    int exitCode = -1;
    QString output;
};

CommandRun Export(const QStringList& arguments) {
    QProcess command;
    command.setProcessChannelMode(QProcess::MergedChannels);
    command.start(QStringLiteral(KREPIKS_CATALOGUE_COMMAND), QStringList{"export"} + arguments);
    const bool finished = command.waitForFinished(300000); // a bound for a hang only
    return {finished && command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1,
            QString::fromUtf8(command.readAll())};
}

// The solid's volume in mm3 of a STEP file as OpenCASCADE reads it; -1 when it does not read.
double StepVolume(const QString& path) {
    STEPControl_Reader reader;
    if (reader.ReadFile(QFile::encodeName(path).constData()) != IFSelect_RetDone ||
        reader.TransferRoots() == 0)
        return -1;
    GProp_GProps props;
    BRepGProp::VolumeProperties(reader.OneShape(), props, 1e-9, Standard_True);
    return props.Mass();
}

// The variant built in this process, as the design window's button builds it.
double BuiltVolume(const TBolt& record) {
    cad::RegisterCadServer();
    TBolt bolt = record;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    double volume = -1;
    try {
        BuildModel(bolt);
        if (const auto session = cad::RunningCadSession()) {
            volume = session->activeDocument()->volume();
            session->quit();
        }
    } catch (const std::exception&) {
    }
    ReleaseSolidWorks();
    cad::UnregisterCadServer();
    return volume;
}

// index.csv's rows by id, each a map from column name to text. The fields tested here hold
// no separator or quote.
std::map<qlonglong, std::map<QString, QString>> Index(const QString& dir) {
    QFile file(dir + "/index.csv");
    std::map<qlonglong, std::map<QString, QString>> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
    const QStringList header = lines.value(0).split(',');
    for (const QString& line : lines.mid(1)) {
        const QStringList fields = line.split(',');
        std::map<QString, QString> row;
        for (int i = 0; i < header.size(); ++i)
            row[header[i]] = fields.value(i);
        rows[row["id"].toLongLong()] = row;
    }
    return rows;
}

QStringList Files(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QStringList Leftovers(const QString& dir) {
    return Files(dir).filter(QRegularExpression("^\\.|partial"));
}

TBolt Record(const TestCatalogue& folder, qlonglong id) {
    TBolt bolt;
    const QStringList values =
        folder
            .scalar(QStringLiteral("select d0||' '||d1||' '||d2||' '||D||' '||R||' '||K||' '||L||"
                                   "' '||L2||' '||L3||' '||a||' '||b||' '||c||' '||S||' '||e "
                                   "from \"Размеры\" where id = %1")
                        .arg(id))
            .split(' ');
    double* fields[] = {&bolt.d0, &bolt.d1, &bolt.d2, &bolt.D, &bolt.R, &bolt.K, &bolt.L,
                        &bolt.L2, &bolt.L3, &bolt.a,  &bolt.b, &bolt.c, &bolt.S, &bolt.e};
    for (int i = 0; i < 14; ++i)
        *fields[i] = values.value(i).toDouble();
    return bolt;
}

} // namespace

TEST(Export, TheSampleCatalogueIntoAnEmptyFolderThenAgainWritingNothing) {
    TestCatalogue folder(TestCatalogue::Contents::Sample, KREPIKS_PART_TEMPLATE);
    const QString dir = folder.folder() + "/library";
    const CommandRun first = Export({dir, "--formats", "step,stl", "--jobs", "2"});
    ASSERT_EQ(first.exitCode, 0) << first.output.toStdString();
    EXPECT_TRUE(first.output.contains("файлов записано: 24, уже было и оставлено: 0,"))
        << first.output.toStdString();

    const auto index = Index(dir);
    ASSERT_EQ(index.size(), 12u);
    for (const auto& [id, row] : index) {
        SCOPED_TRACE(row.at("isp").toStdString());
        EXPECT_EQ(row.at("file"), row.at("isp"));
        EXPECT_EQ(row.at("step"), row.at("isp") + ".step");
        const double volume = row.at("volume_mm3").toDouble();
        EXPECT_NEAR(StepVolume(dir + "/" + row.at("step")), volume, 1e-6 * volume);
        EXPECT_NEAR(BuiltVolume(Record(folder, id)), volume, 1e-6 * volume);
        EXPECT_NEAR(row.at("mass_kg").toDouble(), volume * 7.85e-6, 1e-12);
        // A binary STL: 80 bytes of header, the count, 50 bytes a triangle.
        QFile stlFile(dir + "/" + row.at("stl"));
        const QByteArray stl = stlFile.open(QIODevice::ReadOnly) ? stlFile.readAll() : QByteArray();
        ASSERT_GE(stl.size(), 84);
        const quint32 triangles = *reinterpret_cast<const quint32*>(stl.constData() + 80);
        EXPECT_GT(triangles, 100u);
        EXPECT_EQ(stl.size(), 84 + 50 * qsizetype(triangles));
    }
    EXPECT_EQ(Leftovers(dir), QStringList());

    QFile::setPermissions(dir + "/M6x40.step", QFile::ReadOwner); // kept, not rewritten
    const QByteArray indexBefore = [&] {
        QFile file(dir + "/index.csv");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    const CommandRun second = Export({dir, "--formats", "step,stl"});
    ASSERT_EQ(second.exitCode, 0) << second.output.toStdString();
    EXPECT_TRUE(second.output.contains("файлов записано: 0, уже было и оставлено: 24,"))
        << second.output.toStdString();
    EXPECT_EQ(second.output.count("пропущены (уже есть)"), 12) << second.output.toStdString();
    EXPECT_TRUE(second.output.contains("index.csv уже актуален"));
    QFile file(dir + "/index.csv");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), indexBefore);
}

TEST(Export, ARunStoppedOrKilledMidwayLeavesWholeFilesAndAResumeFinishesIt) {
    TestCatalogue folder(TestCatalogue::Contents::Sample, KREPIKS_PART_TEMPLATE);
    // Five lengths of each sample variant: enough that a run is stopped well before its end.
    folder.exec("insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) "
                "select isp || '-' || n, d0, d1, d2, D, R, K, L + 10 * n, (L + 10 * n) / 2, "
                "(L + 10 * n) / 10, a, b, c, S, e from \"Размеры\", "
                "(select 1 as n union select 2 union select 3 union select 4)");
    const QString dir = folder.folder() + "/library";
    const int total = folder.rowCount("Размеры");

    // Stopped as Ctrl-C stops it, then killed outright, each after its third variant.
    for (const int signal : {SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QStringLiteral(KREPIKS_CATALOGUE_COMMAND), {"export", dir, "--jobs", "2"});
        QByteArray seen;
        while (seen.count("] ") < 3 + (signal == SIGKILL ? 3 : 0) && run.waitForReadyRead(120000))
            seen += run.readAll();
        ::kill(static_cast<pid_t>(run.processId()), signal);
        ASSERT_TRUE(run.waitForFinished(120000));
        seen += run.readAll();
        if (signal == SIGINT) {
            EXPECT_EQ(run.exitCode(), 130) << seen.toStdString();
            EXPECT_TRUE(seen.contains("остановлено: готово исполнений")) << seen.toStdString();
            EXPECT_EQ(Leftovers(dir), QStringList()) << "Ctrl-C leaves no temporary file";
        }
        // Killed outright, a run may leave the temporary file it was writing; the names in
        // place must all be whole.
        const QStringList placed = Files(dir).filter(QRegularExpression("^[^.]"));
        const QStringList written = placed.filter(QRegularExpression("\\.step$"));
        EXPECT_LT(written.size(), total);
        for (const QString& step : written)
            EXPECT_GT(StepVolume(dir + "/" + step), 0) << step.toStdString() << " is whole";
        for (const QString& pdf : placed.filter(QRegularExpression("\\.pdf$")))
            EXPECT_FALSE(PdfPageSize(dir + "/" + pdf).isEmpty())
                << pdf.toStdString() << " is whole";
    }

    const CommandRun resumed = Export({dir, "--jobs", "2"});
    ASSERT_EQ(resumed.exitCode, 0) << resumed.output.toStdString();
    EXPECT_TRUE(resumed.output.contains("уже было и оставлено: "));
    EXPECT_FALSE(resumed.output.contains("уже было и оставлено: 0,"))
        << resumed.output.toStdString();
    EXPECT_EQ(Leftovers(dir), QStringList()) << "the killed run's temporary files are gone";
    const auto index = Index(dir);
    ASSERT_EQ(index.size(), std::size_t(total));
    for (const auto& [id, row] : index) {
        const double volume = row.at("volume_mm3").toDouble();
        EXPECT_NEAR(StepVolume(dir + "/" + row.at("step")), volume, 1e-6 * volume)
            << row.at("isp").toStdString();
        EXPECT_TRUE(PdfText(dir + "/" + row.at("pdf")).contains(row.at("isp")))
            << row.at("isp").toStdString();
    }
}

TEST(Export, NamesThatCannotBeFileNamesGetASafeFormTheIndexTiesToTheirVariant) {
    TestCatalogue folder(TestCatalogue::Contents::Sample, KREPIKS_PART_TEMPLATE);
    const QString longName = QString(160, QChar(u'Ж'));
    const QString names[] = {"",      ".",     "..",      "a/b",   "tab\there",
                             "M6x40", "m6x40", ".hidden", longName};
    for (const QString& name : names)
        folder.exec(QStringLiteral("insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, "
                                   "a, b, c, S, e) select '%1', d0, d1, d2, D, R, K, L, L2, L3, "
                                   "a, b, c, S, e from \"Размеры\" where id = 1")
                        .arg(name));
    const QString dir = folder.folder() + "/library";
    const CommandRun run = Export({dir, "--jobs", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    const auto index = Index(dir);
    const std::map<qlonglong, QString> expected = {
        {1, "M6x40"},       {13, "исполнение~13"},
        {14, "_~14"},       {15, "_.~15"},
        {16, "a_b~16"},     {17, "tab_here~17"},
        {18, "M6x40~18"},   {19, "m6x40~19"},
        {20, "_hidden~20"}, {21, QString(160, QChar(u'Ж')).left(78) + "~21"}};
    for (const auto& [id, file] : expected) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(index.count(id));
        EXPECT_EQ(index.at(id).at("file"), file);
        EXPECT_TRUE(QFile::exists(dir + "/" + file + ".step"));
    }
    EXPECT_EQ(Files(dir).size(), 2 * (12u + 9u) + 1u)
        << "every variant its own model and drawing, and the index";
}

TEST(Export, AVariantTheCadProgramRefusesFailsAloneAndNothingIsDoneWithoutACatalogue) {
    TestCatalogue folder(TestCatalogue::Contents::Sample, KREPIKS_PART_TEMPLATE);
    folder.exec("update \"Размеры\" set d2 = 1e999 where isp = 'M8x50'"); // an infinity
    const QString dir = folder.folder() + "/library";
    const CommandRun run = Export({dir, "--jobs", "2"});
    EXPECT_EQ(run.exitCode, 2) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QRegularExpression("M8x50 \\(id 2\\): ОШИБКА: .+")))
        << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("файлов записано: 22,")) << run.output.toStdString();
    EXPECT_FALSE(QFile::exists(dir + "/M8x50.step"));
    EXPECT_TRUE(QFile::exists(dir + "/M10x60.step"));
    const auto index = Index(dir);
    ASSERT_EQ(index.size(), 12u);
    EXPECT_FALSE(index.at(2).at("error").isEmpty());
    EXPECT_TRUE(index.at(2).at("step").isEmpty());

    // Its drawing is not made either, and the others' are.
    EXPECT_FALSE(QFile::exists(dir + "/M8x50.pdf"));
    EXPECT_TRUE(QFile::exists(dir + "/M10x60.pdf"));

    // Nothing can be done: a format it does not write, a folder that is a file, no catalogue.
    const CommandRun unknown = Export({folder.folder() + "/other", "--formats", "step,iges"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.output.contains("формат «iges» не поддерживается"))
        << unknown.output.toStdString();
    EXPECT_FALSE(QFile::exists(folder.folder() + "/other"));
    const CommandRun notFolder = Export({folder.file()});
    EXPECT_EQ(notFolder.exitCode, 1) << notFolder.output.toStdString();
    QFile::remove(folder.file());
    const CommandRun none = Export({folder.folder() + "/other"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.output.contains("bolti.mdb не найден")) << none.output.toStdString();
}

TEST(Export, DrawingsAreTheDrawingCommandsSheetsWhateverUnitTheTemplateModelsIn) {
    TestCatalogue folder(TestCatalogue::Contents::Sample, KREPIKS_PART_TEMPLATE);
    const QString dir = folder.folder() + "/library";
    const CommandRun run = Export({dir, "--only", "M6x40", "M24x130", "--formats", "pdf,svg,dxf"});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("файлов записано: 6,")) << run.output.toStdString();
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    };
    for (const QString isp : {"M6x40", "M24x130"}) {
        SCOPED_TRACE(isp.toStdString());
        for (const QString format : {"pdf", "svg", "dxf"}) {
            const QString own = folder.folder() + "/" + isp + "." + format;
            const ProgramRun drawn =
                RunProgram(KREPIKS_CATALOGUE_COMMAND, {"drawing", isp, own}, folder.folder());
            ASSERT_EQ(drawn.exitCode, 0) << drawn.err.toStdString();
            const QString exported = dir + "/" + isp + "." + format;
            if (format == "pdf") { // its creation time differs
                EXPECT_EQ(PdfPageSize(exported), PdfPageSize(own));
                EXPECT_EQ(PdfText(exported), PdfText(own));
                EXPECT_TRUE(PdfText(exported).contains(isp));
            } else {
                EXPECT_EQ(read(exported), read(own)) << format.toStdString();
            }
        }
    }
    EXPECT_EQ(Index(dir).at(1).at("pdf"), "M6x40.pdf");

    // A template in metres: the model is built in metres, its drawing is in millimetres all
    // the same.
    const QString metres = folder.folder() + "/metres.kprt";
    QFile templateFile(metres);
    ASSERT_TRUE(templateFile.open(QIODevice::WriteOnly));
    templateFile.write(read(KREPIKS_PART_TEMPLATE).replace("unit mm", "unit m"));
    templateFile.close();
    TestCatalogue inMetres(TestCatalogue::Contents::Sample, metres);
    const QString metreDir = inMetres.folder() + "/library";
    const CommandRun metreRun = [&] {
        QProcess command;
        command.setWorkingDirectory(inMetres.folder());
        command.setProcessChannelMode(QProcess::MergedChannels);
        command.start(KREPIKS_CATALOGUE_COMMAND,
                      {"export", metreDir, "--only", "M6x40", "--formats", "step,svg"});
        command.waitForFinished(300000);
        return CommandRun{command.exitCode(), QString::fromUtf8(command.readAll())};
    }();
    ASSERT_EQ(metreRun.exitCode, 0) << metreRun.output.toStdString();
    EXPECT_EQ(read(metreDir + "/M6x40.svg"), read(folder.folder() + "/M6x40.svg"));
    const double volume = Index(metreDir).at(1).at("volume_mm3").toDouble();
    EXPECT_NEAR(volume, BuiltVolume(Record(folder, 1)), 1e-6 * volume);
    EXPECT_NEAR(StepVolume(metreDir + "/M6x40.step"), volume, 1e-6 * volume)
        << "the reader takes the file's metres into its millimetres";
}
