// krepiks-catalogue to-csv and from-csv as a user runs them around a spreadsheet: the
// catalogue out and back to the last bit, a file as LibreOffice Calc or Excel writes it in a
// Russian locale, and the refusal of a file with one bad cell.
#include "support/test_catalogue.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace krepiks::test;

namespace {

struct CommandRun {
    int exitCode = -1;
    QString output;
};

CommandRun RunProgram(const QString& program, const QStringList& arguments) {
    QProcess command;
    command.setProcessChannelMode(QProcess::MergedChannels);
    command.start(program, arguments);
    const bool finished = command.waitForFinished(120000); // a bound for a hang only
    return {finished && command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1,
            QString::fromUtf8(command.readAll())};
}

CommandRun Catalogue(const QStringList& arguments) {
    return RunProgram(QStringLiteral(KREPIKS_CATALOGUE_COMMAND), arguments);
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The single value of sql over the catalogue file with other attached as "other".
QString Scalar(const QString& file, const QString& other, const QString& sql) {
    sqlite3* db = nullptr;
    QString value = QStringLiteral("(error)");
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_exec(db, QStringLiteral("attach '%1' as other").arg(other).toUtf8().constData(),
                     nullptr, nullptr, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            value =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

// Rows of the two files that are not equal column for column; SQLite's '=' compares doubles
// exactly.
QString DifferingRows(const TestCatalogue& folder, const QString& other) {
    QStringList same;
    for (const char* column :
         {"id", "isp", "d0", "d1", "d2", "D", "R", "K", "L", "L2", "L3", "a", "b", "c", "S", "e"})
        same << QStringLiteral("a.%1 is b.%1").arg(QLatin1String(column));
    return Scalar(
        folder.file(), other,
        QStringLiteral("select (select count(*) from main.\"Размеры\") + "
                       "(select count(*) from other.\"Размеры\") - 2 * (select count(*) from "
                       "main.\"Размеры\" a join other.\"Размеры\" b on %1)")
            .arg(same.join(QStringLiteral(" and "))));
}

} // namespace

TEST(CsvCopy, TheCatalogueGoesOutAndComesBackToTheLastBit) {
    TestCatalogue folder;
    // Values whose shortest text is long, names that need quoting, a key left out by a delete.
    folder.exec("insert into \"Размеры\" (isp, d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e) "
                "values ('Болт \"особый\", 1;\nвторая строка', 0.1 + 0.2, 1e300, 4.9e-324, "
                "2.0/3, 0.25, 1e-7, 123456789.123456789, 7, 8, 30, 45, 45, 10, 11.05)");
    folder.exec("delete from \"Размеры\" where isp = 'M10x60'");
    const QString csv = folder.folder() + "/out.csv";
    const CommandRun out = Catalogue({"to-csv", csv});
    ASSERT_EQ(out.exitCode, 0) << out.output.toStdString();
    const QByteArray text = Bytes(csv);
    EXPECT_TRUE(text.startsWith("id,isp,d0,d1,d2,D,R,K,L,L2,L3,a,b,c,S,e\r\n"));
    EXPECT_TRUE(text.contains("\r\n2,M8x50,6.9,8,5.6,12.35,0.4,5.3,50,25,5,30,45,45,13,14.38\r\n"))
        << "numbers in their shortest form with the decimal point";

    // Python's csv module reads the same rows and the same doubles.
    const CommandRun python = RunProgram(
        "python3", {"-c",
                    "import csv,sys\n"
                    "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
                    "odd = rows[-1]\n"
                    "print(len(rows), odd[1] == 'Болт \"особый\", 1;\\nвторая строка',\n"
                    "      float(odd[2]) == 0.1 + 0.2, float(odd[5]) == 2.0 / 3,\n"
                    "      float(odd[4]) == 5e-324)",
                    csv});
    EXPECT_EQ(python.output.trimmed(), "13 True True True True") << python.output.toStdString();

    const QString copy = folder.folder() + "/copy.mdb";
    const CommandRun in = Catalogue({"from-csv", csv, copy, "--template", "/opt/part.kprt"});
    ASSERT_EQ(in.exitCode, 0) << in.output.toStdString();
    EXPECT_EQ(DifferingRows(folder, copy), "0");
    EXPECT_EQ(
        Scalar(folder.file(), copy, "select count(*) || ' ' || max(id) from other.\"Размеры\""),
        "12 13");
    EXPECT_EQ(
        Scalar(folder.file(), copy, "select group_concat(path_templete_detal) from other.swApp"),
        "/opt/part.kprt");

    // Neither overwrites what is there.
    const QByteArray written = Bytes(copy);
    const CommandRun again = Catalogue({"from-csv", csv, copy});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.output.contains("уже существует")) << again.output.toStdString();
    EXPECT_EQ(Bytes(copy), written);
    const CommandRun outAgain = Catalogue({"to-csv", csv});
    EXPECT_EQ(outAgain.exitCode, 1);
    EXPECT_EQ(Bytes(csv), text);
}

TEST(CsvCopy, ASpreadsheetsSemicolonsDecimalCommasAndByteOrderMarkAreRead) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    // As Calc saves it in a Russian locale: BOM, ';', decimal commas, CRLF, no key column,
    // its own order of columns, a name with the separator in quotes.
    const QString csv = folder.folder() + "/calc.csv";
    Write(csv, "\xEF\xBB\xBFisp;e;S;c;b;a;L3;L2;L;K;R;D;d2;d1;d0\r\n"
               "M6x40;11,05;10;45;45;30;4;20;40;4;0,25;9,5;4,2;6;5,2\r\n"
               "\"Болт; длинный\";39,98;36;45;45;30;13;65;130;15;0,8;34,2;16,8;24;20,8\r\n"
               "\r\n");
    const QString made = folder.folder() + "/bolti.mdb";
    const CommandRun in = Catalogue({"from-csv", csv, made});
    ASSERT_EQ(in.exitCode, 0) << in.output.toStdString();
    EXPECT_EQ(folder.scalar("select group_concat(id || '|' || isp || '|' || d0 || '|' || R || "
                            "'|' || e, ' / ') from (select * from \"Размеры\" order by id)"),
              "1|M6x40|5.2|0.25|11.05 / 2|Болт; длинный|20.8|0.8|39.98");
    EXPECT_EQ(folder.scalar("select count(*) from swApp"), "0") << "no template given";
}

TEST(CsvCopy, TheFirstBadCellRefusesTheWholeFileByLineAndColumn) {
    TestCatalogue folder(TestCatalogue::Contents::NoFile);
    const QByteArray header = "id,isp,d0,d1,d2,D,R,K,L,L2,L3,a,b,c,S,e\r\n";
    const QByteArray good = "1,M6x40,5.2,6,4.2,9.5,0.25,4,40,20,4,30,45,45,10,11.05\r\n";
    // The second row's name spans two lines, so its cells start on line 3 and end on line 4.
    const QByteArray twoLines = "2,\"M8\nx50\",6.9,8,5.6,12.35,0.4,5.3,50,25,5,30,45,45,13,";
    const struct {
        const char* what;
        QByteArray file;
        const char* where;
        const char* why;
    } cases[] = {
        {"zero", header + good + twoLines + "0\r\n", "строка 4, столбец 16 (P)",
         "Нуль недопустим!"},
        {"negative", header + good + twoLines + "-14.38\r\n", "строка 4, столбец 16 (P)",
         "Параметр не может быть отрицательным!"},
        {"no number", header + good + "3,M10,8.6,10,7,15.2,0.4,abc,60,30,6,30,45,45,16,17.77\r\n",
         "строка 3, столбец 8 (H)", "Ошибка ввода данных!"},
        {"empty dimension", header + good + "3,M10,8.6,,7,15.2,0.4,6.4,60,30,6,30,45,45,16,1\r\n",
         "строка 3, столбец 4 (D)", "Ошибка ввода данных!"},
        {"thousands separator",
         header + "3,M10,\"8,600.5\",10,7,15.2,0.4,6,60,30,6,30,45,45,16,1\r\n",
         "строка 2, столбец 3 (C)", "Ошибка ввода данных!"},
        {"repeated key", header + good + good, "строка 3, столбец 1 (A)", "в строке выше"},
        {"name too long",
         header + "1," + QByteArray(151, 'x') + ",5.2,6,4.2,9.5,0.25,4,40,20,4,30,45,45,10,11\r\n",
         "строка 2, столбец 2 (B)", "150"},
        {"short row", header + good + "2,M8,6.9\r\n", "строка 3", "полей: 3"},
        {"unknown column", "id,isp,d0,d1,d2,D,R,K,L,L2,L3,a,b,c,S,e,colour\r\n",
         "строка 1, столбец 17 (Q)", "colour"},
        {"missing column", "id,isp,d0,d1,d2,D,R,K,L,L2,L3,a,b,c,S\r\n", "строка 1",
         "в заголовке нет столбца «e»"},
        {"stray quote", header + "1,M6\"x40,5.2,6,4.2,9.5,0.25,4,40,20,4,30,45,45,10,11\r\n",
         "строка 2, столбец 2 (B)", "кавычка"},
        {"not UTF-8", header + "1,\xcc\xe5\xf2\xf0,5.2,6,4.2,9.5,0.25,4,40,20,4,30,45,45,10,11\r\n",
         "строка 2", "UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString csv = folder.folder() + "/bad.csv";
        QFile::remove(csv);
        Write(csv, c.file);
        const QString made = folder.folder() + "/bolti.mdb";
        const CommandRun run = Catalogue({"from-csv", csv, made});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.output.contains(QString::fromUtf8(c.where))) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(QString::fromUtf8(c.why))) << run.output.toStdString();
        EXPECT_FALSE(QFile::exists(made));
        EXPECT_EQ(QDir(folder.folder()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"bad.csv"})
            << "nothing left behind";
    }
}
