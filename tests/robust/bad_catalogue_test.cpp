// Catalogue files Krepiks cannot use: a clear message at start-up (then exit code 1) or in
// the general error report later, and the file left byte for byte as it was.
#include "catalogue_rows.h"
#include "design/unit4.h"
#include "person.h"
#include "shell/application.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace krepiks;
using namespace krepiks::test;

namespace {

struct App {
    int argc = 1;
    char name[8] = "krepiks";
    char* argv[2] = {name, nullptr};
    KrepiksApplication app{argc, argv};
};

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray SampleBytes() {
    TestCatalogue sample;
    return *FileBytes(sample.file());
}

// A file made by running sql on the sample catalogue.
QByteArray ChangedSample(const QString& sql) {
    TestCatalogue sample;
    sample.exec(sql);
    return *FileBytes(sample.file());
}

struct Outcome {
    int exitCode = -1;
    std::vector<MessageBoxRequest> boxes;
};

// The whole program on the catalogue in the current folder; afterDesignShown runs once the design
// window is up, and the run then ends as the user would end it.
Outcome RunOn(const std::function<void()>& afterDesignShown = {}) {
    RecordingEffects effects;
    App a;
    QTimer probe;
    probe.setInterval(20);
    int polls = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (Form4 && Form4->isVisible() && Form4->isActiveWindow()) {
            probe.stop();
            if (afterDesignShown)
                afterDesignShown();
            effects.answerNext(BoxResult::Yes);
            Form4->N6Click();
        } else if (++polls > 250) {
            QApplication::exit(7);
        }
    });
    probe.start();
    Outcome run;
    run.exitCode = ExecKrepiks(a.app);
    run.boxes = effects.boxes();
    // The exit question is the user's own; what came before it is the program's.
    if (!run.boxes.empty() && run.boxes.back().caption == "Information")
        run.boxes.pop_back();
    return run;
}

void ExpectLeftAsItWas(const TestCatalogue& folder, const QByteArray& bytes) {
    EXPECT_EQ(FileBytes(folder.file()), bytes);
    const QStringList beside = QDir(folder.folder()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(beside, QStringList{"bolti.mdb"}) << beside.join(' ').toStdString();
}

} // namespace

TEST(BadCatalogue, FilesThatAreNoUsableCatalogueEndStartUpAndStayAsTheyWere) {
    const QByteArray sample = SampleBytes();
    const struct {
        const char* what;
        QByteArray bytes;
        QString message;
    } cases[] = {
        {"empty", QByteArray(),
         "The Microsoft Jet database engine cannot find the input table or query 'Размеры'."},
        {"truncated in its first page", sample.left(1000), "Unrecognized database format"},
        {"truncated after its first pages", sample.left(8192), "Unrecognized database format"},
        {"random bytes", QByteArray::fromHex("8f1c44a09e7b3d21").repeated(512),
         "Unrecognized database format"},
        {"no variant table", ChangedSample("drop table \"Размеры\""),
         "cannot find the input table or query 'Размеры'"},
        {"a variant column missing", ChangedSample("alter table \"Размеры\" drop column d0"),
         "ADOQuery1: Field 'd0' not found."},
        {"the name column missing", ChangedSample("alter table \"Размеры\" drop column isp"),
         "ADOQuery1: Field 'isp' not found."},
        {"a dimension held as text",
         ChangedSample("alter table \"Размеры\" rename column L to old; "
                       "alter table \"Размеры\" add column L varchar(20)"),
         "ADOQuery1: Type mismatch for field 'L', expecting: Float actual: WideString."},
        {"the name held as a number",
         ChangedSample("alter table \"Размеры\" rename column isp to old; "
                       "alter table \"Размеры\" add column isp double"),
         "ADOQuery1: Type mismatch for field 'isp', expecting: WideString actual: Float."},
        {"a dimension held as a blob",
         ChangedSample("alter table \"Размеры\" rename column e to old; "
                       "alter table \"Размеры\" add column e blob"),
         "ADOQuery1: Type mismatch for field 'e', expecting: Float actual: Blob."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestCatalogue folder(TestCatalogue::Contents::NoFile);
        WriteFile(folder.file(), c.bytes);
        const Outcome run = RunOn();
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].caption, "Application Error");
        EXPECT_EQ(run.boxes[0].icon, BoxIcon::Error);
        EXPECT_TRUE(run.boxes[0].text.startsWith("Exception EDatabaseError in module "));
        EXPECT_TRUE(run.boxes[0].text.contains(c.message)) << run.boxes[0].text.toStdString();
        ExpectLeftAsItWas(folder, c.bytes);
    }
}

TEST(BadCatalogue, ATemplateTableUnfitForUseIsReportedWhenTheDesignWindowFirstReadsIt) {
    const struct {
        const char* what;
        QByteArray bytes;
        QString message;
    } cases[] = {
        {"no template table", ChangedSample("drop table swApp"),
         "The Microsoft Jet database engine cannot find the input table or query 'swApp'.  Make "
         "sure it exists and that its name is spelled correctly."},
        {"no path column", ChangedSample("alter table swApp drop column path_templete_detal"),
         "ADOQuery2: Field 'path_templete_detal' not found."},
        {"the path held as a number",
         ChangedSample("alter table swApp rename column path_templete_detal to old; "
                       "alter table swApp add column path_templete_detal real"),
         "ADOQuery2: Type mismatch for field 'path_templete_detal', expecting: WideString "
         "actual: Float."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestCatalogue folder(TestCatalogue::Contents::NoFile);
        WriteFile(folder.file(), c.bytes);
        QStringList names;
        const Outcome run = RunOn([&] {
            for (int i = 0; i < Form4->ComboBox1->count(); ++i)
                names << Form4->ComboBox1->itemText(i);
        });
        EXPECT_EQ(run.exitCode, 0) << "the program goes on";
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].caption, "Крепикс");
        EXPECT_EQ(run.boxes[0].icon, BoxIcon::Error);
        EXPECT_EQ(run.boxes[0].text, c.message);
        EXPECT_EQ(names.size(), 12) << "the variants were read before the template path";
        ExpectLeftAsItWas(folder, c.bytes);
    }
}

TEST(BadCatalogue, AFileSpoiledDuringTheRunIsReportedAtTheNextRefillAndLeftAlone) {
    TestCatalogue folder;
    const QByteArray spoiled = QByteArray("not a catalogue any more\n").repeated(100);
    const Outcome run = RunOn([&] {
        // Another program puts something else in the file's place.
        const QString other = folder.folder() + "/other";
        WriteFile(other, spoiled);
        ASSERT_TRUE(QFile::remove(folder.file()));
        ASSERT_TRUE(QFile::rename(other, folder.file()));
        ClickRadio(Form4->RadioButton1);
        ClickRadio(Form4->RadioButton2);
        EXPECT_TRUE(Form4->RadioButton2->isChecked());
        EXPECT_EQ(Form4->ComboBox1->count(), 0);
    });
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, "Крепикс");
    EXPECT_EQ(run.boxes[0].text, "Unrecognized database format '" + folder.file() + "'.");
    ExpectLeftAsItWas(folder, spoiled);
}
