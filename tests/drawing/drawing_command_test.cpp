// krepiks-catalogue drawing: the sheet of a catalogue variant in each format, read back by
// readers that are not ours, and every refusal leaving nothing behind.
#include "bolt_steps.h"
#include "drawing_files.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>

using namespace krepiks::test;
using krepiks::cad::test::BoltDims;
using krepiks::cad::test::BoltVolume;
using krepiks::cad::test::SampleVariants;

namespace {

struct Variant {
    const char* isp;
    QStringList numbers; // every dimension as the drawing must write it
};

// The two ends of the sample catalogue.
const Variant Small{
    "M6x40",
    {"⌀5,2", "⌀6", "⌀4,2", "⌀9,5", "R0,25", "4", "40", "20", "30°", "45°", "10", "11,05*"}};
const Variant Large{"M24x130",
                    {"⌀20,8", "⌀24", "⌀16,8", "⌀34,2", "R0,8", "15", "130", "65", "13", "30°",
                     "45°", "36", "39,98*"}};

// Words of the text, one per blank-separated token.
QStringList words(const QString& text) {
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// The scale as the title block writes it, as a factor.
double scaleFactor(const QString& text) {
    const QStringList parts = QString(text).replace(',', '.').split(':');
    return parts.size() == 2 ? parts[0].toDouble() / parts[1].toDouble() : 0;
}

QString scaleIn(const QString& text) {
    const auto match =
        QRegularExpression(QStringLiteral("(?:^|\\s)(\\d+(?:,\\d+)?:\\d+(?:,\\d+)?)(?:\\s|$)"))
            .match(text);
    return match.captured(1);
}

const BoltDims& dimsOf(const char* isp) {
    static const std::vector<BoltDims> variants = SampleVariants();
    for (const BoltDims& d : variants)
        if (d.name == isp)
            return d;
    throw std::runtime_error("no such sample variant");
}

// Three significant figures, decimal comma, as the title block writes a mass.
QString massText(double kg) {
    const int decimals = std::max(0, 2 - static_cast<int>(std::floor(std::log10(kg))));
    QString text = QString::number(kg, 'f', decimals);
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    return text.replace('.', ',');
}

constexpr char DxfReader[] = R"(
import sys, json, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
msp = doc.modelspace()
def box(e):
    t = e.dxftype()
    if t == 'LINE':
        pts = [e.dxf.start, e.dxf.end]
    elif t == 'LWPOLYLINE':
        pts = [(p[0], p[1]) for p in e.get_points()]
    elif t in ('CIRCLE', 'ARC'):
        c, r = e.dxf.center, e.dxf.radius
        pts = [(c[0] - r, c[1] - r), (c[0] + r, c[1] + r)]
    else:
        return None
    xs = [p[0] for p in pts]; ys = [p[1] for p in pts]
    return [min(xs), min(ys), max(xs), max(ys)]
# The views: the main lines above the title block and its note.
boxes = [b for b in (box(e) for e in msp if e.dxf.layer == 'MAIN') if b and b[1] > 72]
boxes.sort()
clusters = []
for b in boxes:
    if clusters and b[0] <= clusters[-1][2] + 5:
        c = clusters[-1]
        clusters[-1] = [min(c[0], b[0]), min(c[1], b[1]), max(c[2], b[2]), max(c[3], b[3])]
    else:
        clusters.append(b)
# The diameter and degree signs as DXF's control codes.
def plain(text):
    for code, sign in (('%%c', '\u2300'), ('%%C', '\u2300'), ('%%d', '\u00b0'), ('%%D', '\u00b0')):
        text = text.replace(code, sign)
    return text
texts = [plain(e.dxf.text) for e in msp.query('TEXT')]
print(json.dumps({
    'errors': len(auditor.errors),
    'version': doc.dxfversion,
    'codepage': doc.header.get('$DWGCODEPAGE', ''),
    'insunits': doc.header.get('$INSUNITS', 0),
    'layers': sorted(l.dxf.name for l in doc.layers),
    'axis_linetype': doc.layers.get('AXIS').dxf.linetype,
    'views': clusters,
    'texts': texts,
}))
)";

constexpr char SvgReader[] = R"(
import sys, json, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
texts = [''.join(t.itertext()).strip() for t in root.iter('{http://www.w3.org/2000/svg}text')]
print(json.dumps({'width': root.get('width'), 'height': root.get('height'), 'texts': texts}))
)";

class DrawingCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.ok()); }

    // Draws the variant into name and expects it written.
    void draw(const char* isp, const QString& name, const QStringList& options = {}) {
        const ProgramRun run =
            folder.drawing(QStringList{QString::fromLatin1(isp), folder.path(name)} + options);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        ASSERT_TRUE(QFile::exists(folder.path(name)));
    }

    // Nothing but the catalogue in the folder, and the refusal's reason said.
    void expectRefused(const QStringList& arguments, const QString& reason) {
        const QStringList before = folder.files();
        const ProgramRun run = folder.drawing(arguments);
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(reason)) << run.err.toStdString();
        EXPECT_EQ(folder.files(), before) << "a file was left behind";
    }

    DrawingFolder folder;
};

TEST_F(DrawingCommand, PdfOfBothEndsOfTheCatalogueCarriesEveryDimensionTheTitleBlockAndTheFont) {
    for (const Variant& variant : {Small, Large}) {
        SCOPED_TRACE(variant.isp);
        const QString file = QString::fromLatin1(variant.isp) + ".pdf";
        draw(variant.isp, file, {"--material", "Сталь 35 ГОСТ 1050-2013", "--author", "Иванов"});
        const QString text = PdfText(folder.path(file));
        const QStringList tokens = words(text);
        for (const QString& number : variant.numbers)
            EXPECT_TRUE(tokens.contains(number)) << number.toStdString() << " in\n"
                                                 << text.toStdString();
        for (const char* title : {"Болт", "Лист", "Листов", "Разраб.", "Иванов", "Масса", "Масштаб",
                                  "Сталь", "1050-2013", "Размер", "справки."})
            EXPECT_TRUE(tokens.contains(QString::fromUtf8(title))) << title;
        EXPECT_TRUE(tokens.contains(QString::fromLatin1(variant.isp))) << "the designation";
        EXPECT_TRUE(tokens.filter(QRegularExpression("^[⌀R]?\\d+\\.\\d+[°*]?$")).isEmpty())
            << "a decimal point";

        const double scale = scaleFactor(scaleIn(text));
        const QString page = PdfPageSize(folder.path(file));
        if (variant.isp == Small.isp) {
            EXPECT_GT(scale, 1) << "the M6 bolt is drawn enlarged";
            EXPECT_TRUE(page.contains("(A4)")) << page.toStdString();
            EXPECT_TRUE(page.contains(QRegularExpression("595(\\.\\d+)? x 84[12]"))) << "portrait";
        } else {
            EXPECT_TRUE(scale < 1 || page.contains("(A3)")) << "the M24 bolt reduced or on A3";
        }
        const QString fonts = PdfFonts(folder.path(file));
        const QString osifont = fonts.split('\n').filter("osifont", Qt::CaseInsensitive).join('\n');
        ASSERT_FALSE(osifont.isEmpty()) << fonts.toStdString();
        EXPECT_TRUE(words(osifont).contains("yes")) << "embedded: " << osifont.toStdString();
    }
}

TEST_F(DrawingCommand, NoNumberOrTitleOverlapsAnotherOnAnySampleVariant) {
    struct Word {
        QString text;
        double x0, y0, x1, y1;
    };
    const QRegularExpression wordLine(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                       "yMax=\"([\\d.]+)\">([^<]*)</word>"));
    for (const BoltDims& d : SampleVariants()) {
        SCOPED_TRACE(d.name);
        const QString file = QString::fromStdString(d.name) + ".pdf";
        draw(d.name.c_str(), file, {"--material", "Сталь 35 ГОСТ 1050-2013"});
        const QString boxes =
            RunProgram("pdftotext", {"-bbox", folder.path(file), "-"}, folder.path("")).out;
        std::vector<Word> words;
        for (auto match = wordLine.globalMatch(boxes); match.hasNext();) {
            const auto m = match.next();
            // A hair inside its box: words that only touch do not overlap.
            words.push_back({m.captured(5), m.captured(1).toDouble() + 0.3,
                             m.captured(2).toDouble() + 0.3, m.captured(3).toDouble() - 0.3,
                             m.captured(4).toDouble() - 0.3});
        }
        ASSERT_GT(words.size(), 30u);
        for (std::size_t i = 0; i < words.size(); ++i)
            for (std::size_t j = i + 1; j < words.size(); ++j) {
                const Word& a = words[i];
                const Word& b = words[j];
                EXPECT_FALSE(a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1)
                    << a.text.toStdString() << " overlaps " << b.text.toStdString();
            }
    }
}

TEST_F(DrawingCommand, TheMassIsTheSolidsVolumeTimesTheDensity) {
    const BoltDims& d = dimsOf(Small.isp);
    draw(Small.isp, "steel.pdf");
    draw(Small.isp, "brass.pdf", {"--density", "8,5"});
    const double volume = BoltVolume(d); // mm³
    EXPECT_TRUE(words(PdfText(folder.path("steel.pdf"))).contains(massText(volume * 7.85e-6)));
    EXPECT_TRUE(words(PdfText(folder.path("brass.pdf"))).contains(massText(volume * 8.5e-6)));
}

TEST_F(DrawingCommand, SvgIsInMillimetresWithTheNumbersAsText) {
    for (const Variant& variant : {Small, Large}) {
        SCOPED_TRACE(variant.isp);
        const QString file = QString::fromLatin1(variant.isp) + ".svg";
        draw(variant.isp, file);
        const ProgramRun read = Python(SvgReader, folder.path(file));
        ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
        const QJsonObject svg = QJsonDocument::fromJson(read.out.toUtf8()).object();
        const bool a3 = svg["width"].toString() == "420mm";
        EXPECT_TRUE(svg["width"].toString() == "210mm" || a3)
            << svg["width"].toString().toStdString();
        EXPECT_EQ(svg["height"].toString(), "297mm");
        QStringList texts;
        for (const auto& t : svg["texts"].toArray())
            texts << t.toString();
        for (const QString& number : variant.numbers)
            EXPECT_TRUE(texts.contains(number)) << number.toStdString();
        EXPECT_TRUE(texts.contains("Болт"));
        EXPECT_TRUE(texts.contains(QString::fromLatin1(variant.isp)));
    }
}

TEST_F(DrawingCommand, DxfOpensCleanInMillimetresWithTheViewsAtTheDrawingsScale) {
    for (const Variant& variant : {Small, Large}) {
        SCOPED_TRACE(variant.isp);
        const BoltDims& d = dimsOf(variant.isp);
        const QString file = QString::fromLatin1(variant.isp) + ".dxf";
        draw(variant.isp, file);
        const ProgramRun read = Python(DxfReader, folder.path(file));
        ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
        const QJsonObject dxf = QJsonDocument::fromJson(read.out.toUtf8()).object();
        EXPECT_EQ(dxf["errors"].toInt(), 0);
        EXPECT_GE(dxf["version"].toString(), "AC1015");
        EXPECT_EQ(dxf["insunits"].toInt(), 4) << "millimetres";
        EXPECT_EQ(dxf["codepage"].toString(), "ANSI_1251");
        QStringList layers;
        for (const auto& l : dxf["layers"].toArray())
            layers << l.toString();
        for (const char* layer : {"MAIN", "THIN", "AXIS"})
            EXPECT_TRUE(layers.contains(layer)) << layer;
        EXPECT_EQ(dxf["axis_linetype"].toString(), "DASHDOT");
        QStringList texts;
        for (const auto& t : dxf["texts"].toArray())
            texts << t.toString();
        for (const QString& number : variant.numbers)
            EXPECT_TRUE(texts.contains(number)) << number.toStdString();
        for (const char* title : {"Болт", "Лист 1", "Листов 1", "Разраб.", "* Размер для справки."})
            EXPECT_TRUE(texts.contains(QString::fromUtf8(title))) << title;
        const double scale = scaleFactor(scaleIn(texts.join(' ')));
        ASSERT_GT(scale, 0);
        const QJsonArray views = dxf["views"].toArray();
        ASSERT_EQ(views.size(), 2) << read.out.toStdString();
        const auto extent = [&](int view, int axis) {
            const QJsonArray b = views[view].toArray();
            return b[axis + 2].toDouble() - b[axis].toDouble();
        };
        // The main view: head and shank along, across the corners up; the end view: across
        // the flats along, across the corners up.
        EXPECT_NEAR(extent(0, 0), (d.K + d.L) * scale, 0.01);
        EXPECT_NEAR(extent(0, 1), d.e * scale, 0.01);
        EXPECT_NEAR(extent(1, 1), d.e * scale, 0.01);
        EXPECT_NEAR(extent(1, 0), d.e * std::sqrt(3.0) / 2 * scale, 0.01);
    }
}

TEST_F(DrawingCommand, RefusalsLeaveNoFile) {
    expectRefused({"M99x1", folder.path("none.pdf")}, "нет исполнения «M99x1»");
    expectRefused({Small.isp, folder.path("drawing.png")}, ".pdf, .svg или .dxf");
    expectRefused({Small.isp, folder.path("no-folder/drawing.pdf")}, "не удаётся создать");
    expectRefused({Small.isp, "/proc/drawing.pdf"}, "не удаётся создать");

    QFile existing(folder.path("existing.pdf"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("mine");
    existing.close();
    expectRefused({Small.isp, folder.path("existing.pdf")}, "уже существует");
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), "mine") << "never overwritten";
}

TEST_F(DrawingCommand, ABuildTheCadProgramRefusesIsReportedInItsWords) {
    // A variant without a shank, and one whose template is gone.
    const auto sql = [&](const QString& statement) {
        return RunProgram("sqlite3", {folder.path("bolti.mdb"), statement}, folder.path(""))
            .exitCode;
    };
    ASSERT_EQ(sql("insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) "
                  "values ('flat', 0, 0, 0, 9.5, 0.25, 4, 0, 0, 0, 30, 45, 45, 10, 11.05)"),
              0);
    expectRefused({"flat", folder.path("flat.pdf")}, "не сделан");
    const ProgramRun run = folder.drawing({"flat", folder.path("flat.svg")});
    EXPECT_TRUE(run.err.contains("Бобышка-Повернуть1") || run.err.contains("Тела нет"))
        << run.err.toStdString();

    ASSERT_EQ(sql("update swApp set path_templete_detal = '/nonexistent/part.kprt'"), 0);
    expectRefused({Small.isp, folder.path("template.dxf")}, "не сделан");
}

} // namespace
