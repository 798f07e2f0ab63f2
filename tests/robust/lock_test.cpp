// The design window adding a variant while another connection holds the catalogue's lock.
#include "catalogue_rows.h"
#include "design/unit4.h"
#include "model/bolt.h"
#include "person.h"
#include "shell/application.h"
#include "support/hand_over.h"
#include "support/recording_effects.h"
#include "support/test_catalogue.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>
#include <optional>
#include <sqlite3.h>
#include <thread>

using namespace krepiks;
using namespace krepiks::test;

namespace {

constexpr int SampleRows = 12;

// Another process's hold on the file, through a connection of its own.
class Locker {
public:
    explicit Locker(const QString& file) {
        sqlite3_open_v2(file.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~Locker() {
        release();
        sqlite3_close(db_);
    }
    // "begin exclusive" keeps readers and writers out, "begin immediate" only writers.
    bool hold(const char* begin) {
        held_ = sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
        return held_;
    }
    void release() {
        if (held_)
            sqlite3_exec(db_, "commit", nullptr, nullptr, nullptr);
        held_ = false;
    }

private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};

class LockedCatalogue : public ::testing::Test {
protected:
    void start() {
        catalogue.emplace();
        CreateForms();
        ASSERT_TRUE(HandOverToDesignWindow());
        ClickRadio(Form4->RadioButton1);
        ASSERT_TRUE(Form4->RadioButton1->isChecked());
    }
    void TearDown() override {
        DestroyForms();
        catalogue.reset();
        qunsetenv("KREPIKS_BUSY_TIMEOUT_MS");
    }

    RecordingEffects effects;
    std::optional<TestCatalogue> catalogue;
};

} // namespace

TEST_F(LockedCatalogue, ALockReleasedWithinTheTimeoutIsWaitedFor) {
    start();
    Locker other(catalogue->file());
    ASSERT_TRUE(other.hold("begin exclusive"));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        other.release();
    });
    QElapsedTimer clock;
    clock.start();
    AddVariant(VariantValues::ForKey(100), true);
    const qint64 waited = clock.elapsed();
    releaser.join();
    EXPECT_GE(waited, 350);
    EXPECT_TRUE(effects.boxes().empty()) << effects.boxes()[0].text.toStdString();
    EXPECT_EQ(catalogue->rowCount("Размеры"), SampleRows + 1);
    ExpectStoredVariant(RowsByD0(catalogue->file()), 100);
}

TEST_F(LockedCatalogue, ALockHeldPastTheTimeoutIsReportedAndTheTypedValuesStay) {
    qputenv("KREPIKS_BUSY_TIMEOUT_MS", "300");
    start();
    Locker other(catalogue->file());
    int key = 200;
    // Held against the reading of the variants, then against the writing of the new row.
    for (const char* begin : {"begin exclusive", "begin immediate"}) {
        SCOPED_TRACE(begin);
        ASSERT_TRUE(other.hold(begin));
        effects.clear();
        const VariantValues v = VariantValues::ForKey(++key);
        QElapsedTimer clock;
        clock.start();
        AddVariant(v, key == 201);
        EXPECT_GE(clock.elapsed(), 280);
        const auto boxes = effects.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Крепикс");
        EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
        EXPECT_EQ(boxes[0].text, "Could not update; currently locked.");

        // Nothing typed is lost: the boxes and the bolt record keep it all.
        EXPECT_EQ(Form4->Edit4->text(), QString::number(v.d0));
        EXPECT_EQ(Form4->Edit9->text(), QString::number(v.L));
        EXPECT_EQ(Form4->Edit8->text(), QString::number(v.L / 2));
        EXPECT_EQ(Bolt.d0, v.d0);
        EXPECT_EQ(Bolt.S, v.S);
        EXPECT_EQ(Bolt.D, 0.95 * v.S);
        EXPECT_EQ(Bolt.L3, v.L / 10);
        EXPECT_TRUE(Form4->RadioButton1->isChecked());
        EXPECT_TRUE(Form4->Button1->isEnabled());

        other.release();
        EXPECT_EQ(catalogue->rowCount("Размеры"), SampleRows + (key - 201)) << "nothing stored";
        // Pressing the button again stores the variant as typed.
        Click(Form4->Button1);
        EXPECT_EQ(effects.boxes().size(), 1u);
        EXPECT_EQ(catalogue->rowCount("Размеры"), SampleRows + (key - 200));
        ExpectStoredVariant(RowsByD0(catalogue->file()), key);
    }
    EXPECT_EQ(IntegrityCheck(catalogue->file()), "ok");
}
