// The checks krepiks-jet-reader makes of libmdb's structures: silent on the libmdb this was
// built with, reading a real file of the test's Jet writer, and finding a handle laid out
// otherwise.
#include "catalogue/libmdb_layout.h"
#include "support/jet_writer.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace krepiks::jet;

class LibmdbLayout : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = QFile::encodeName(dir_.filePath(QStringLiteral("bolti.mdb")));
        QFile file(QString::fromLocal8Bit(path_));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        bytes_ = krepiks::test::WriteJet4(
            {krepiks::test::JetVariantTable({{QStringLiteral("01"), 12.0, 70.0, 18.0, 8.0, 1.5,
                                              30.0, 10.0, 12.0, 2.0, 1.0, 0.5, 1.0, 19.6, 45.0}}),
             krepiks::test::JetTemplateTable(QStringLiteral("C:\\Шаблоны\\деталь.prtdot"))});
        ASSERT_EQ(file.write(bytes_), bytes_.size());
        file.close();
        mdb_ = mdb_open(path_.constData(), MDB_NOFLAGS);
        ASSERT_NE(mdb_, nullptr);
    }
    void TearDown() override {
        if (mdb_)
            mdb_close(mdb_);
    }
    const unsigned char* firstPage() const {
        return reinterpret_cast<const unsigned char*>(bytes_.constData());
    }

    QTemporaryDir dir_;
    QByteArray path_, bytes_;
    MdbHandle* mdb_ = nullptr;
};

TEST_F(LibmdbLayout, TheLibraryBuiltWithFillsEveryStructureAsTheReaderReadsIt) {
    EXPECT_EQ(HandleLayoutMismatch(mdb_, path_.constData()), "");
    ASSERT_TRUE(mdb_read_catalog(mdb_, MDB_TABLE));
    EXPECT_EQ(CatalogueLayoutMismatch(mdb_), "");
    int tables = 0;
    for (guint i = 0; i < mdb_->catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb_->catalog, i));
        MdbTableDef* table = mdb_read_table(entry);
        ASSERT_NE(table, nullptr) << entry->object_name;
        ASSERT_TRUE(mdb_read_columns(table));
        EXPECT_EQ(TableLayoutMismatch(entry, table), "") << entry->object_name;
        tables += mdb_is_user_table(entry) ? 1 : 0;
        mdb_free_tabledef(table);
    }
    EXPECT_EQ(tables, 2);
}

TEST_F(LibmdbLayout, FieldsFoundAtOtherOffsetsStopTheReaderWithWhatDiffers) {
    // A library whose handle has one more pointer before the page buffer.
    auto shifted = std::make_unique<MdbHandle>();
    std::memcpy(shifted.get(), mdb_, sizeof(MdbHandle));
    const std::size_t buffer = offsetof(MdbHandle, pg_buf);
    std::memmove(reinterpret_cast<char*>(shifted.get()) + buffer + sizeof(void*),
                 reinterpret_cast<const char*>(mdb_) + buffer,
                 sizeof(MdbHandle) - buffer - sizeof(void*));
    const std::string handle = HandleLayoutMismatch(shifted.get(), firstPage(), 0x18);
    ASSERT_NE(handle, "");
    const std::string failure = LayoutFailure(handle);
    EXPECT_NE(failure.find(handle), std::string::npos);
    EXPECT_NE(failure.find("libmdb " KREPIKS_LIBMDB_VERSION), std::string::npos);
    EXPECT_NE(HandleLayoutMismatch(mdb_, firstPage(), 0x17), "");

    // A catalogue whose count sits elsewhere, and a table whose entry does.
    ASSERT_TRUE(mdb_read_catalog(mdb_, MDB_TABLE));
    std::memcpy(shifted.get(), mdb_, sizeof(MdbHandle));
    shifted->num_catalog += 1;
    EXPECT_EQ(CatalogueLayoutMismatch(shifted.get()), "число записей каталога не равно его длине");
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb_->catalog, 0));
    auto* other = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb_->catalog, 1));
    MdbTableDef* table = mdb_read_table(entry);
    ASSERT_NE(table, nullptr);
    ASSERT_TRUE(mdb_read_columns(table));
    EXPECT_EQ(TableLayoutMismatch(other, table), "таблица не указывает на свою запись каталога");
    mdb_free_tabledef(table);
}

} // namespace
