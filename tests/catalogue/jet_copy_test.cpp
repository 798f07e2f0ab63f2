// An office's Access (Jet 4.0) catalogue brought over with krepiks-catalogue from-jet, run as
// its own process on files of the test's Jet writer: every value kept to the last bit, checked
// against mdbtools' own mdb-export, the copy opened by the design window and built on the CAD
// stand-in, and damaged or foreign files refused with nothing left.
#include "bolt_steps.h"
#include "cad/cad_server.h"
#include "catalogue/jet_reader.h"
#include "design_session.h"
#include "model/solidworks.h"
#include "support/jet_writer.h"
#include "support/private_postgres.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <sqlite3.h>

using namespace krepiks;
using namespace krepiks::test;

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString output;
};

ProgramRun
RunProgram(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
           const QString& folder = {}) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(120000); // a bound for a hang only
    return {finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

ProgramRun FromJet(const QString& jet, const QString& file, const QString& folder = {}) {
    return RunProgram(KREPIKS_CATALOGUE_COMMAND, {"from-jet", jet, file},
                      QProcessEnvironment::systemEnvironment(), folder);
}

void Save(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// The values of one column of a copied table in key order, as SQLite holds them.
std::vector<QVariant> Column(const QString& file, const QString& sql) {
    sqlite3* db = nullptr;
    std::vector<QVariant> values;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &s, nullptr) == SQLITE_OK) {
            while (sqlite3_step(s) == SQLITE_ROW) {
                switch (sqlite3_column_type(s, 0)) {
                case SQLITE_NULL:
                    values.emplace_back();
                    break;
                case SQLITE_INTEGER:
                    values.emplace_back(qlonglong(sqlite3_column_int64(s, 0)));
                    break;
                case SQLITE_FLOAT:
                    values.emplace_back(sqlite3_column_double(s, 0));
                    break;
                default:
                    values.emplace_back(QString::fromUtf8(
                        reinterpret_cast<const char*>(sqlite3_column_text(s, 0))));
                }
            }
        } else {
            ADD_FAILURE() << sqlite3_errmsg(db) << ": " << sql.toStdString();
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return values;
}

bool SameBits(const QVariant& value, double expected) {
    const double got = value.toDouble();
    return value.typeId() == QMetaType::Double && std::memcmp(&got, &expected, sizeof got) == 0;
}

const double Awkward[] = {0.30000000000000004,
                          123456789.12345678,
                          -2.5e-3,
                          std::numeric_limits<double>::denorm_min(),
                          1e300,
                          -0.0};

std::vector<JetFixtureTable> OfficeCatalogue(const QString& longText, const QString& memo) {
    std::vector<std::vector<QVariant>> variants;
    for (int v = 0; v < 3; ++v) {
        std::vector<QVariant> row{v == 1 ? longText : QStringLiteral("М%1x40").arg(6 + 2 * v)};
        for (int d = 0; d < 14; ++d)
            row.push_back(v == 2 && d == 4 ? QVariant()
                                           : QVariant(Awkward[(d + v) % 6] + (d == 6 ? 40 : 0)));
        row.push_back(v == 0 ? QVariant()
                             : QVariant(v == 1 ? QString() : QStringLiteral("сталь 40Х")));
        variants.push_back(row);
    }
    JetFixtureTable sizes = JetVariantTable(variants);
    sizes.columns.push_back({QStringLiteral("материал"), 10, 60}); // added by the office
    sizes.columns[3].variableLength = true;                        // d1, as Access may flag it
    sizes.rows[1][0] = qlonglong(7);                               // keys with a gap: deleted rows
    sizes.rows[2][0] = qlonglong(5);
    JetFixtureTable suppliers{
        QStringLiteral("Поставщики"),
        {{QStringLiteral("Код"), 4, 0, true},
         {QStringLiteral("Название"), 10, 80},
         {QStringLiteral("Цена"), 5},
         {QStringLiteral("С"), 8},
         {QStringLiteral("Заметки"), 12},
         {QStringLiteral("Основной"), 1},
         // Added after the second row was written.
         {QStringLiteral("Скидка"), 7},
         {QStringLiteral("Город"), 10, 40},
         {QStringLiteral("Проверен"), 1},
         {QStringLiteral("Остаток"), 3}},
        {{qlonglong(1), QStringLiteral("Болтовой завод"), qlonglong(123456789), -1.25, memo, true,
          0.125, QStringLiteral("Тула"), true, qlonglong(-1)},
         {qlonglong(2), QString(), QVariant(), 45000.5 + 1.0 / 86400000, QVariant(), false}}};
    return {sizes, JetTemplateTable(QStringLiteral("C:\\Шаблоны\\деталь.prtdot")), suppliers};
}

} // namespace

TEST(JetCopy, AnOfficeCatalogueComesOverWholeAndKrepiksCanOpenIt) {
    QTemporaryDir dir;
    const QString longText = QString(150, QChar(0x0416)); // 150 × «Ж»
    QString memo;
    for (int i = 0; memo.size() < 12000; ++i) // over libmdb's 16 KiB in UTF-8
        memo += QStringLiteral("строка %1; ").arg(i);
    const QString jet = dir.filePath("bolti.mdb");
    Save(jet, WriteJet4(OfficeCatalogue(longText, memo)));

    // mdbtools' own tools read the writer's file: names, rows, and the losses of its text.
    const ProgramRun tables = RunProgram("mdb-tables", {"-1", jet});
    EXPECT_EQ(tables.output.split('\n', Qt::SkipEmptyParts),
              (QStringList{"Размеры", "swApp", "Поставщики"}))
        << tables.output.toStdString();
    const ProgramRun export_ =
        RunProgram("mdb-export", {"-H", "-d", "|", "-q", "", jet, "Размеры"});
    const QStringList lines = export_.output.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << export_.output.toStdString();
    EXPECT_EQ(lines[0].section('|', 0, 2), "1|М6x40|0.3") << "%.16g loses the last bit";
    EXPECT_EQ(lines[1].section('|', 1, 1), longText);
    EXPECT_EQ(lines[2].section('|', 0, 0), "5");
    const ProgramRun memoExport = RunProgram("mdb-export", {"-H", "-q", "", jet, "Поставщики"});
    EXPECT_TRUE(memoExport.output.contains("Болтовой завод")) << memoExport.output.toStdString();

    const QString copy = dir.filePath("new/bolti.mdb");
    QDir().mkpath(dir.filePath("new"));
    const ProgramRun run = FromJet(jet, copy);
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Крепикс может открыть")) << run.output.toStdString();
    EXPECT_TRUE(
        run.output.contains("«Размеры» (строк: 3), «swApp» (строк: 1), «Поставщики» (строк: 2)"))
        << run.output.toStdString();

    // Every double to the last bit, NULL apart from empty, keys and their order kept.
    EXPECT_EQ(Column(copy, "select id from \"Размеры\" order by id"),
              (std::vector<QVariant>{qlonglong(1), qlonglong(5), qlonglong(7)}));
    const char* names[] = {"d0", "d1", "d2", "D", "R", "K", "L",
                           "L2", "L3", "a",  "b", "c", "S", "e"};
    const int originalRow[] = {0, 2, 1}; // rows in id order: 1, 5, 7
    for (int d = 0; d < 14; ++d) {
        const auto values = Column(
            copy, QStringLiteral("select \"%1\" from \"Размеры\" order by id").arg(names[d]));
        ASSERT_EQ(values.size(), 3u);
        for (int r = 0; r < 3; ++r) {
            const int v = originalRow[r];
            if (v == 2 && d == 4)
                EXPECT_TRUE(values[r].isNull()) << names[d];
            else
                EXPECT_TRUE(SameBits(values[r], Awkward[(d + v) % 6] + (d == 6 ? 40 : 0)))
                    << names[d] << " of row " << r << ": " << values[r].toString().toStdString();
        }
    }
    EXPECT_EQ(Column(copy, "select isp from \"Размеры\" where id = 7"),
              std::vector<QVariant>{longText});
    EXPECT_EQ(Column(copy, "select coalesce(typeof(материал) || ':' || материал, 'null') from "
                           "\"Размеры\" order by id"),
              (std::vector<QVariant>{"null", "text:сталь 40Х", "text:"}));
    EXPECT_EQ(Column(copy, "select path_templete_detal from swApp"),
              std::vector<QVariant>{"C:\\Шаблоны\\деталь.prtdot"});
    EXPECT_EQ(Column(copy, "select Заметки from Поставщики where Код = 1"),
              std::vector<QVariant>{memo});
    EXPECT_EQ(
        Column(copy, "select Цена || '|' || С || '|' || Основной from Поставщики order by Код"),
        (std::vector<QVariant>{"12345.6789|1899-12-29 06:00:00.000|1", QVariant()}));
    EXPECT_EQ(Column(copy, "select С || Основной from Поставщики where Код = 2"),
              std::vector<QVariant>{"2023-03-15 12:00:00.0010"});
    // A row older than a column holds none of it; a Boolean is No.
    EXPECT_EQ(Column(copy, "select coalesce(Скидка || '|' || Город, 'null') || '|' || Проверен "
                           "from Поставщики order by Код"),
              (std::vector<QVariant>{"0.125|Тула|1", "null|0"}));
    // An Integer is signed.
    EXPECT_EQ(Column(copy, "select Остаток from Поставщики order by Код"),
              (std::vector<QVariant>{qlonglong(-1), QVariant()}));
    // New rows come after the old ones.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(copy.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_exec(db, "insert into \"Размеры\" (isp) values ('новый')", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(Column(copy, "select id from \"Размеры\" where isp = 'новый'"),
              std::vector<QVariant>{qlonglong(8)});

    // Nothing that exists is overwritten.
    const QByteArray kept = [&] {
        QFile f(copy);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const ProgramRun again = FromJet(jet, copy);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.output.contains("уже существует")) << again.output.toStdString();
    QFile f(copy);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), kept);
    // Nor a name taken while the copy runs: a link to nowhere is taken though no file is there
    // to see beforehand.
    const QString taken = dir.filePath("new/taken.mdb");
    ASSERT_TRUE(QFile::link(dir.filePath("nowhere.mdb"), taken));
    const ProgramRun raced = FromJet(jet, taken);
    EXPECT_EQ(raced.exitCode, 1) << raced.output.toStdString();
    EXPECT_TRUE(raced.output.contains("ничего не записано")) << raced.output.toStdString();
    EXPECT_TRUE(QFileInfo(taken).isSymLink());
    EXPECT_EQ(QDir(dir.filePath("new")).entryList(QDir::Files | QDir::System),
              (QStringList{"bolti.mdb", "taken.mdb"}));
}

TEST(JetCopy, ToServerCarriesTheCatalogueToTheBitAndNamesWhatItLeavesOut) {
    const PrivatePostgres server;
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();
    QTemporaryDir dir;
    const QString longText = QString(150, QChar(0x0416));
    const QString jet = dir.filePath("bolti.mdb");
    std::vector<JetFixtureTable> tables = OfficeCatalogue(longText, QStringLiteral("заметка"));
    // A NaN, which the server keeps as it is, reads back as itself.
    tables[0].rows[0][2 + 5] = std::numeric_limits<double>::quiet_NaN();
    Save(jet, WriteJet4(tables));
    const QProcessEnvironment environment =
        server.catalogueEnvironment(server.writeHome(dir.filePath("home")));

    const ProgramRun run = RunProgram(KREPIKS_CATALOGUE_COMMAND, {"to-server", jet}, environment);
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(
        run.output.contains("скопировано на сервер: «Размеры» (строк: 3), «swApp» (строк: 1)"))
        << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("НЕ скопировано") &&
                run.output.contains("таблица «Поставщики» (строк: 2)") &&
                run.output.contains("столбец материал таблицы «Размеры»"))
        << run.output.toStdString();

    EXPECT_EQ(server.scalar("select string_agg(id || ':' || coalesce(isp, 'null'), ',' order by "
                            "id) from Размеры"),
              QStringLiteral("1:М6x40,5:М10x40,7:") + longText);
    // Every double as its eight bytes, NULL kept apart.
    const char* names[] = {"d0", "d1", "d2", "D", "R", "K", "L",
                           "L2", "L3", "a",  "b", "c", "S", "e"};
    const int originalRow[] = {0, 2, 1};
    for (int d = 0; d < 14; ++d) {
        QStringList expected;
        for (int v : originalRow) {
            if (v == 2 && d == 4) {
                expected << "null";
                continue;
            }
            const double value = v == 0 && d == 5 ? std::numeric_limits<double>::quiet_NaN()
                                                  : Awkward[(d + v) % 6] + (d == 6 ? 40 : 0);
            quint64 bits;
            std::memcpy(&bits, &value, sizeof bits);
            expected << QString::number(bits, 16).rightJustified(16, '0');
        }
        EXPECT_EQ(server.scalar(QStringLiteral("select string_agg(coalesce(encode(float8send(%1), "
                                               "'hex'), 'null'), ',' order by id) from Размеры")
                                    .arg(names[d])),
                  expected.join(','))
            << names[d];
    }
    EXPECT_EQ(server.scalar("select path_templete_detal from swApp"), "C:\\Шаблоны\\деталь.prtdot");
    server.exec("insert into Размеры (isp) values ('новый')");
    EXPECT_EQ(server.scalar("select id from Размеры where isp = 'новый'"), "8");
}

TEST(JetCopy, ACopyKrepiksCannotOpenIsKeptAndSaysWhy) {
    QTemporaryDir dir;
    const struct {
        const char* what;
        std::vector<JetFixtureTable> tables;
        QString reason;
    } cases[] = {
        {"no template table",
         {JetVariantTable({})},
         "cannot find the input table or query 'swApp'"},
        {"a dimension held as text",
         {[] {
              JetFixtureTable t = JetVariantTable({});
              t.columns[8] = {QStringLiteral("L"), 10, 20};
              return t;
          }(),
          JetTemplateTable("x")},
         "Type mismatch for field 'L'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString jet = dir.filePath(QString("%1.mdb").arg(&c - cases));
        const QString copy = jet + ".new";
        Save(jet, WriteJet4(c.tables));
        const ProgramRun run = FromJet(jet, copy);
        EXPECT_EQ(run.exitCode, 3) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains("Крепикс не может открыть")) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(c.reason)) << run.output.toStdString();
        EXPECT_TRUE(QFile::exists(copy));
    }
}

TEST(JetCopy, DamagedAndForeignFilesAreRefusedByNameWithNothingLeft) {
    QTemporaryDir dir;
    const QByteArray good = WriteJet4(OfficeCatalogue(QStringLiteral("Ж"), QStringLiteral("м")));
    QByteArray random(good.size() - 4096, '\0');
    for (qsizetype i = 0; i < random.size(); ++i)
        random[i] = char((i * 2654435761u) >> 13);
    std::vector<std::pair<QString, QByteArray>> cases = {
        {"cut at half", good.left(good.size() / 2)},
        {"cut at a page", good.left(good.size() - 4096)},
        {"cut mid-page", good.left(good.size() - 100)},
        {"cut to its first page", good.left(4096)},
        {"random after the header", good.left(4096) + random},
        {"Jet 3",
         [&] {
             QByteArray b = good;
             b[0x14] = 0;
             return b;
         }()},
        {"ACE",
         [&] {
             QByteArray b = good;
             b.replace(4, 15, "Standard ACE DB");
             b[0x14] = 3;
             return b;
         }()},
        // ACE's version under Jet's name: no file Access writes, and none for libmdb either.
        {"Jet named, ACE numbered",
         [&] {
             QByteArray b = good;
             b[0x14] = 2;
             return b;
         }()},
        {"encrypted", WriteJet4(OfficeCatalogue("a", "b"), {true, {}})},
        {"with a password", WriteJet4(OfficeCatalogue("a", "b"), {false, "секрет"})},
    };
    // Flipped bytes in each page's structure.
    for (int page = 1; page < good.size() / 4096; ++page)
        for (int offset : {0, 2, 12, 14, 45, 63})
            cases.push_back({QString("flip %1:%2").arg(page).arg(offset), [&] {
                                 QByteArray b = good;
                                 b[page * 4096 + offset] = char(b[page * 4096 + offset] ^ 0x5A);
                                 return b;
                             }()});
    int refused = 0;
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what.toStdString());
        const QString jet = dir.filePath("old.mdb");
        const QString copy = dir.filePath("new.mdb");
        Save(jet, bytes);
        const ProgramRun run = FromJet(jet, copy);
        ASSERT_NE(run.exitCode, -1) << "krepiks-catalogue crashed or hung";
        if (run.exitCode == 0 || run.exitCode == 3) {
            // A flip that leaves a sound file (a changed name, a changed value) is copied as
            // it reads.
            QFile::remove(copy);
            continue;
        }
        ++refused;
        EXPECT_EQ(run.exitCode, 1) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(jet)) << run.output.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.mdb"});
        if (what == "Jet 3" || what == "ACE" || what == "encrypted" || what == "with a password") {
            EXPECT_TRUE(run.output.contains(what == "Jet 3"       ? "Access 97 (Jet 3)"
                                            : what == "ACE"       ? "ACE, .accdb"
                                            : what == "encrypted" ? "зашифрован"
                                                                  : "паролем базы данных"))
                << run.output.toStdString();
        }
        if (what == "Jet named, ACE numbered") {
            EXPECT_TRUE(run.output.contains(jet + " — не файл Microsoft Access (Jet)"))
                << run.output.toStdString();
        }
        // Where the file ends, and in which page or before which it needs.
        if (what.startsWith("cut")) {
            const qint64 page = bytes.size() / 4096;
            EXPECT_TRUE(run.output.contains(
                bytes.size() % 4096
                    ? QString("%1 не читается: файл обрывается на байте %2, внутри страницы %3: "
                              "он повреждён или неполон; ничего не записано")
                          .arg(jet)
                          .arg(bytes.size())
                          .arg(page)
                    : QString("%1 не читается: файл обрывается на байте %2, перед страницей ")
                          .arg(jet)
                          .arg(bytes.size())))
                << run.output.toStdString();
        }
        if (what == "cut to its first page") {
            EXPECT_TRUE(run.output.contains("обрывается на байте 4096, перед страницей 2: он "
                                            "повреждён или неполон"))
                << run.output.toStdString();
        }
        if (what.startsWith("random")) {
            EXPECT_TRUE(run.output.contains("поврежд")) << run.output.toStdString();
        }
    }
    EXPECT_GE(refused, 10 + 6);
}

// Access keeps a table's stored count of rows loosely: deleted rows, an interrupted session
// and other edits leave it stale until the file is compacted. The rows on the pages count.
TEST(JetCopy, AStaleCountOfRowsLosesNothingAndIsSaidInOneLine) {
    QTemporaryDir dir;
    JetFixtureTable sizes = JetVariantTable({{QStringLiteral("М6"), 1.0, 2.0, 3.0, 4.0, 5.0, 6.0,
                                              7.0, 8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0},
                                             {QStringLiteral("удалён"), 1.5, 2.0, 3.0, 4.0, 5.0,
                                              6.0, 7.0, 8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0},
                                             {QStringLiteral("М8"), 2.0, 2.0, 3.0, 4.0, 5.0, 6.0,
                                              7.0, 8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0}});
    sizes.deleted = {1};
    sizes.storedRows = 7; // higher than the rows
    JetFixtureTable path = JetTemplateTable(QStringLiteral("C:\\деталь.prtdot"));
    path.storedRows = 0; // lower
    const struct {
        const char* what;
        JetFixtureOptions options;
        QString catalogueNote;
    } cases[] = {
        {"a catalogue counting more, with a deleted table's row",
         {false, {}, 9, true},
         "в таблице «MSysObjects» записано число строк 9, а их в ней 3"},
        {"a catalogue counting fewer",
         {false, {}, 2, false},
         "в таблице «MSysObjects» записано число строк 2, а их в ней 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString jet = dir.filePath(QString("%1.mdb").arg(&c - cases));
        const QString copy = jet + ".new";
        Save(jet, WriteJet4({sizes, path}, c.options));
        // mdbtools' own export reads the same live rows.
        const ProgramRun exported = RunProgram("mdb-export", {"-H", jet, "Размеры"});
        EXPECT_EQ(exported.output.split('\n', Qt::SkipEmptyParts).size(), 2)
            << exported.output.toStdString();

        const ProgramRun run = FromJet(jet, copy);
        ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
        const QStringList lines = run.output.split('\n', Qt::SkipEmptyParts);
        for (const QString& note :
             {QString("в таблице «Размеры» записано число строк 7, а их в ней 2"),
              QString("в таблице «swApp» записано число строк 0, а их в ней 1"), c.catalogueNote})
            EXPECT_TRUE(lines.contains("krepiks-catalogue: " + note))
                << note.toStdString() << " in\n"
                << run.output.toStdString();
        EXPECT_TRUE(run.output.contains("«Размеры» (строк: 2), «swApp» (строк: 1)"))
            << run.output.toStdString();
        EXPECT_EQ(Column(copy, "select id || ':' || isp from \"Размеры\" order by id"),
                  (std::vector<QVariant>{"1:М6", "3:М8"}));
        EXPECT_EQ(Column(copy, "select path_templete_detal from swApp"),
                  std::vector<QVariant>{"C:\\деталь.prtdot"});
    }
}

// Rows libmdb passes over without a word are still missed: a row whose place on its page
// points past the row before it, and the same in the catalogue of tables.
TEST(JetCopy, RowsTheReaderPassesOverAreMissedByNameWithNothingWritten) {
    QTemporaryDir dir;
    std::vector<std::vector<QVariant>> variants;
    for (int v = 0; v < 3; ++v)
        variants.push_back({QStringLiteral("М%1").arg(6 + 2 * v), 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0,
                            8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0});
    const QByteArray good =
        WriteJet4({JetVariantTable(variants), JetTemplateTable(QStringLiteral("x"))});
    // The writer's pages: the catalogue's rows on page 3, Размеры's on page 5; the third row's
    // place is the third offset after the page's count of rows.
    const auto misplaced = [&](int page) {
        QByteArray b = good;
        b[page * 4096 + 14 + 2 * 2] = char(0xff);
        b[page * 4096 + 14 + 2 * 2 + 1] = char(0x0f);
        return b;
    };
    const struct {
        int page;
        QString message;
    } cases[] = {
        {5, "таблица «Размеры»: прочитано строк 2 из 3; ничего не записано"},
        {3, "в каталоге таблиц файла найдено объектов: 2 из 3; ничего не записано"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        const QString jet = dir.filePath("old.mdb");
        Save(jet, misplaced(c.page));
        const ProgramRun run = FromJet(jet, dir.filePath("new.mdb"));
        EXPECT_EQ(run.exitCode, 1) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(jet + " не читается: " + c.message))
            << run.output.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.mdb"});
    }
}

TEST(JetCopy, WhatIsNoFileOrNoPlaceForOneIsNamedForWhatItIs) {
    QTemporaryDir dir;
    const QString jet = dir.filePath("old.mdb");
    Save(jet, WriteJet4({JetVariantTable({}), JetTemplateTable(QStringLiteral("x"))}));
    const struct {
        QString from, to, message;
    } cases[] = {
        {dir.path(), "new.mdb", dir.path() + " — папка; ничего не записано"},
        {"/dev/zero", "new.mdb", "/dev/zero — устройство, а не обычный файл; ничего не записано"},
        // Named as given, not as the copy's own file beside it would be.
        {jet, "nodir/new.mdb", "nodir/new.mdb нельзя создать: папки nodir нет; ничего не записано"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        const ProgramRun run = FromJet(c.from, c.to, dir.path());
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.output, "krepiks-catalogue: " + c.message + "\n");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                  QStringList{"old.mdb"});
    }
}

namespace {

// The design window on the copy, building on the CAD stand-in in this process.
class JetCopyDesign : public DesignWindowTest {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English));
        cad::RegisterCadServer();
    }
    void TearDown() override {
        DesignWindowTest::TearDown();
        ReleaseSolidWorks();
        if (auto running = cad::RunningCadSession())
            running->quit();
        cad::UnregisterCadServer();
        QLocale::setDefault(QLocale::c());
    }
};

} // namespace

TEST_F(JetCopyDesign, TheCopyListsEveryVariantAsTheAccessFileHeldItAndBuildsTheWorkedExample) {
    const char* dims[] = {"d0", "d1", "d2", "D", "R", "K", "L",
                          "L2", "L3", "a",  "b", "c", "S", "e"};
    double TBolt::*const fields[] = {&TBolt::d0, &TBolt::d1, &TBolt::d2, &TBolt::D,  &TBolt::R,
                                     &TBolt::K,  &TBolt::L,  &TBolt::L2, &TBolt::L3, &TBolt::a,
                                     &TBolt::b,  &TBolt::c,  &TBolt::S,  &TBolt::e};
    // The office's Access file: the sample catalogue's variants, then the worked example.
    std::vector<std::vector<QVariant>> variants;
    ProgramRun run;
    start(TestCatalogue::Contents::Sample, [&](TestCatalogue& c) {
        const auto names = Column(c.file(), "select isp from \"Размеры\" order by id");
        variants.resize(names.size());
        for (std::size_t v = 0; v < names.size(); ++v)
            variants[v].push_back(names[v]);
        for (const char* d : dims) {
            const auto values = Column(
                c.file(), QStringLiteral("select \"%1\" from \"Размеры\" order by id").arg(d));
            for (std::size_t v = 0; v < values.size() && v < variants.size(); ++v)
                variants[v].push_back(values[v]);
        }
        variants.push_back({QStringLiteral("Пример чертежа"), 10.0, 12.0, 8.0, 17.1, 0.6, 7.5, 60.0,
                            30.0, 6.0, 30.0, 50.0, 45.0, 18.0, 20.0});
        const QString jet = c.folder() + "/access.mdb";
        Save(jet, WriteJet4({JetVariantTable(variants),
                             JetTemplateTable(QStringLiteral(KREPIKS_PART_TEMPLATE))}));
        ASSERT_TRUE(QFile::remove(c.file()));
        run = FromJet(jet, c.file());
    });
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    ASSERT_EQ(variants.size(), 13u);
    QStringList names;
    for (const auto& v : variants)
        names << v[0].toString();
    EXPECT_EQ(listEntries(), names);
    EXPECT_EQ(form()->Edit15->text(), KREPIKS_PART_TEMPLATE);

    // Each variant loads with the very doubles the Access file held.
    for (const auto& v : variants) {
        SCOPED_TRACE(v[0].toString().toStdString());
        chooseName(v[0].toString());
        EXPECT_EQ(Bolt.isp, v[0].toString().toStdString());
        for (int d = 0; d < 14; ++d)
            EXPECT_TRUE(SameBits(v[d + 1], Bolt.*fields[d]))
                << dims[d] << " loaded as " << Bolt.*fields[d];
    }
    EXPECT_TRUE(effects.boxes().empty());

    // The worked example builds from the copy as the same bolt record builds on its own.
    chooseName(QStringLiteral("Пример чертежа"));
    click(form()->Button2);
    ASSERT_TRUE(effects.boxes().empty()) << boxMessages()[0].toStdString();
    ASSERT_TRUE(cad::RunningCadSession());
    const auto fromCopy = cad::RunningCadSession()->activeDocument();
    ASSERT_TRUE(fromCopy);
    cad::test::ExpectValidSolid(fromCopy->body());
    EXPECT_LT(
        cad::test::Relative(fromCopy->volume(), cad::test::BoltVolume(cad::test::WorkedExample())),
        1e-8);
    TBolt direct = cad::test::BoltOf(cad::test::WorkedExample());
    BuildModel(direct);
    const auto fromRecord = cad::RunningCadSession()->activeDocument();
    ASSERT_NE(fromRecord, fromCopy);
    EXPECT_EQ(fromCopy->volume(), fromRecord->volume());
    EXPECT_EQ(fromCopy->features().size(), fromRecord->features().size());
}

// Whatever the reader wrote, a reading is either whole or has a reason: what fuzzing found,
// run here without clang.
TEST(JetStream, AReadingThatFailedAlwaysSaysWhy) {
    const QDir found(QStringLiteral(KREPIKS_FUZZ_DIR "/regressions/jet"));
    const QStringList inputs = found.entryList(QDir::Files);
    ASSERT_FALSE(inputs.isEmpty());
    for (const QString& name : inputs) {
        QFile file(found.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        if (input.isEmpty() || (input[0] & 1) != 0)
            continue; // edits of a sound file: the fuzzer's own path through the child
        const JetReadResult result = ParseJetStream("KJET1\n" + input.mid(1));
        EXPECT_NE(result.ok, !result.error.isEmpty()) << name.toStdString();
    }
}
