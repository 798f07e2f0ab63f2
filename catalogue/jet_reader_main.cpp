// krepiks-jet-reader FILE: reads every user table of a Jet 4.0 file through libmdb and writes
// it to standard output in the stream that catalogue/jet_reader.cpp parses. Values leave as
// their bytes in the file (numbers, dates, currency) or as libmdb's UTF-8 (texts), never as
// libmdb's formatted text, which loses digits and follows the locale.
//
// libmdb may crash or loop on a damaged file, so this runs as a child of the program that
// wants the rows; that program bounds its time and takes anything on standard error as a
// failure.
//
// libmdb also skips rows it cannot place without a word. So each table's live rows are
// counted here first from its own data pages, without libmdb, and libmdb must yield as many.
#include "catalogue/libmdb_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
// glib declares C++ templates of its own; it must come before the header that wraps it in
// extern "C".
#include <glib.h>
#include <mdbtools.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string out;

void flush() {
    if (!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size())
        std::exit(3);
    out.clear();
}

void put8(unsigned value) {
    out.push_back(static_cast<char>(value));
}
void put16(unsigned value) {
    put8(value & 0xff);
    put8((value >> 8) & 0xff);
}
void put32(uint32_t value) {
    put16(value & 0xffff);
    put16(value >> 16);
}
void putBytes(const void* data, std::size_t size) {
    put32(static_cast<uint32_t>(size));
    out.append(static_cast<const char*>(data), size);
}
void putText(const std::string& text) {
    putBytes(text.data(), text.size());
}

[[noreturn]] void failure(const std::string& message) {
    put8('X');
    putText(message);
    flush();
    std::fflush(stdout);
    std::_Exit(0);
}

constexpr uint32_t PageSize = 4096;
constexpr unsigned RowCountAt = 12;
constexpr unsigned RowOffsetsAt = 14;
constexpr unsigned OffsetBits = 0x1fff;
// Access marks a deleted row so, and the data of a row moved to another page, whose first
// place keeps a pointer to it and counts as the row; libmdb reads the moved data in its place.
constexpr unsigned DeletedRow = 0x8000;

uint32_t le16(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t le32(const unsigned char* p) {
    return le16(p) | le16(p + 2) << 16;
}

// The file's pages as they lie on disk, read apart from libmdb.
class Pages {
public:
    Pages(const char* path, off_t size) : fd_(open(path, O_RDONLY | O_CLOEXEC)), size_(size) {
        if (fd_ < 0)
            failure("файл не читается");
    }
    ~Pages() { close(fd_); }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;

    std::vector<unsigned char> read(uint32_t number) const {
        const off_t start = static_cast<off_t>(number) * PageSize;
        if (start + static_cast<off_t>(PageSize) > size_)
            failure("файл обрывается на байте " + std::to_string(size_) +
                    (start < size_ ? ", внутри страницы " : ", перед страницей ") +
                    std::to_string(number) + ": он повреждён или неполон");
        std::vector<unsigned char> page(PageSize);
        if (pread(fd_, page.data(), PageSize, start) != static_cast<ssize_t>(PageSize))
            failure("страница " + std::to_string(number) + " не читается");
        return page;
    }

private:
    int fd_;
    off_t size_;
};

struct RowCount {
    uint32_t stored = 0; // the definition's own, which Access keeps loosely
    uint32_t live = 0;   // rows on the table's data pages not marked deleted
};

// The rows of the table defined on page definition, counted on the data pages its usage map
// lists: every page it names must be there, whatever libmdb then reads.
RowCount countRows(const Pages& pages, uint32_t definition, const std::string& name) {
    const std::string damaged = "карта занятости таблицы «" + name + "» повреждена";
    const std::vector<unsigned char> def = pages.read(definition);
    if (def[0] != 2)
        failure("описание таблицы «" + name + "» повреждено (на странице " +
                std::to_string(definition) + " его нет)");
    RowCount count;
    count.stored = le32(&def[16]);
    const uint32_t mapAt = le32(&def[55]);
    const std::vector<unsigned char> holder = pages.read(mapAt >> 8);
    const uint32_t mapRow = mapAt & 0xff;
    if (holder[0] != 1 || mapRow >= le16(&holder[RowCountAt]) ||
        RowOffsetsAt + 2 * (mapRow + 1) > PageSize)
        failure(damaged);
    const uint32_t start = le16(&holder[RowOffsetsAt + 2 * mapRow]) & OffsetBits;
    const uint32_t end =
        mapRow == 0 ? PageSize : le16(&holder[RowOffsetsAt + 2 * (mapRow - 1)]) & OffsetBits;
    if (start + 5 > end || end > PageSize)
        failure(damaged);
    const std::vector<unsigned char> map(holder.begin() + start, holder.begin() + end);

    const auto countPage = [&](uint32_t number) {
        const std::vector<unsigned char> page = pages.read(number);
        // A page of another owner is libmdb's to warn about.
        if (page[0] != 1 || le32(&page[4]) != definition)
            return;
        const uint32_t rows = std::min(le16(&page[RowCountAt]), (PageSize - RowOffsetsAt) / 2);
        for (uint32_t r = 0; r < rows; ++r)
            if (!(le16(&page[RowOffsetsAt + 2 * r]) & DeletedRow))
                ++count.live;
    };
    const auto eachBit = [](const unsigned char* bits, std::size_t bytes, auto&& visit) {
        for (std::size_t i = 0; i < bytes * 8; ++i)
            if (bits[i / 8] & (1u << (i % 8)))
                visit(static_cast<uint32_t>(i));
    };
    if (map[0] == 0) {
        // The bitmap itself, from a first page.
        const uint32_t first = le32(&map[1]);
        eachBit(&map[5], map.size() - 5, [&](uint32_t i) { countPage(first + i); });
    } else if (map[0] == 1) {
        // Pages of bitmaps, each after a header of four bytes.
        constexpr uint32_t perPage = (PageSize - 4) * 8;
        for (std::size_t j = 0; 1 + 4 * (j + 1) <= map.size(); ++j) {
            const uint32_t bitmapPage = le32(&map[1 + 4 * j]);
            if (bitmapPage == 0)
                continue;
            const std::vector<unsigned char> bitmap = pages.read(bitmapPage);
            eachBit(&bitmap[4], PageSize - 4,
                    [&](uint32_t i) { countPage(static_cast<uint32_t>(j) * perPage + i); });
        }
    } else {
        failure(damaged);
    }
    return count;
}

void requireLayout(const std::string& mismatch) {
    if (!mismatch.empty())
        failure(krepiks::jet::LayoutFailure(mismatch));
}

int fixedSize(int type) {
    switch (type) {
    case MDB_BYTE:
        return 1;
    case MDB_INT:
        return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
        return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
        return 8;
    case MDB_REPID:
        return 16;
    default:
        return -1;
    }
}

constexpr int OffsetMask = 0x1fff;

void writeValue(MdbHandle* mdb, MdbTableDef* table, MdbColumn* col, const MdbField& field,
                off_t fileSize) {
    const std::string where = std::string(table->name) + "." + col->name;
    if (col->col_type == MDB_BOOL) {
        put8(1);
        const unsigned char value = field.is_null ? 0 : 1; // the mask bit is the value
        putBytes(&value, 1);
        return;
    }
    if (field.is_null) {
        put8(0);
        return;
    }
    put8(1);
    const unsigned char* page = mdb->pg_buf;
    if (field.start < 0 || field.siz < 0 || field.start + field.siz > mdb->fmt->pg_size)
        failure("значение " + where + " выходит за пределы своей страницы");
    const int size = fixedSize(col->col_type);
    if (size > 0) {
        if (field.siz != size)
            failure("длина значения " + where + " в байтах " + std::to_string(field.siz) +
                    ", а не " + std::to_string(size));
        putBytes(page + field.start, static_cast<std::size_t>(size));
        return;
    }
    switch (col->col_type) {
    case MDB_TEXT:
    case MDB_MEMO: {
        if (field.siz == 0) {
            putBytes("", 0);
            return;
        }
        std::size_t bind = MDB_BIND_SIZE;
        if (col->col_type == MDB_MEMO) {
            if (field.siz < MDB_MEMO_OVERHEAD)
                failure("значение Memo " + where + " короче своего заголовка");
            const uint32_t length =
                static_cast<uint32_t>(mdb_get_int32(mdb->pg_buf, field.start)) & 0x3fffffff;
            // Its bytes lie in the file, so a length past the file's is damage.
            if (length > static_cast<uint64_t>(fileSize))
                failure("значение Memo " + where + " длиннее всего файла");
            bind = 2 * static_cast<std::size_t>(length) + 64; // UTF-16 or compressed to UTF-8
        } else {
            bind = 2 * static_cast<std::size_t>(field.siz) + 64;
        }
        if (bind < MDB_BIND_SIZE)
            bind = MDB_BIND_SIZE;
        mdb_set_bind_size(mdb, bind);
        char* text = mdb_col_to_string(mdb, mdb->pg_buf, field.start, col->col_type, field.siz);
        const std::string value = text ? text : "";
        g_free(text);
        if (value.size() + 1 >= bind)
            failure("текст " + where + " обрезан");
        putText(value);
        return;
    }
    case MDB_BINARY:
        putBytes(page + field.start, static_cast<std::size_t>(field.siz));
        return;
    case MDB_OLE: {
        std::size_t length = 0;
        void* data = mdb_ole_read_full(mdb, col, &length);
        if (!data)
            failure("значение OLE " + where + " не читается");
        putBytes(data, length);
        free(data);
        return;
    }
    case MDB_NUMERIC: {
        char* text = mdb_numeric_to_string(mdb, field.start, col->col_scale, col->col_prec);
        putText(text ? text : "");
        g_free(text);
        return;
    }
    default:
        failure("тип (" + std::to_string(col->col_type) + ") столбца " + where + " не читается");
    }
}

void writeTable(MdbHandle* mdb, MdbCatalogEntry* entry, const Pages& pages, off_t fileSize) {
    const RowCount count =
        countRows(pages, static_cast<uint32_t>(entry->table_pg), entry->object_name);
    MdbTableDef* table = mdb_read_table(entry);
    if (!table)
        failure(std::string("описание таблицы «") + entry->object_name + "» не читается");
    if (!mdb_read_columns(table) || table->columns->len != table->num_cols)
        failure(std::string("столбцы таблицы «") + entry->object_name + "» не читаются");
    requireLayout(krepiks::jet::TableLayoutMismatch(entry, table));
    put8('T');
    putText(table->name);
    put32(count.stored);
    put32(count.live);
    put16(table->num_cols);
    std::vector<std::vector<unsigned char>> ole(table->num_cols);
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        putText(col->name);
        put8(static_cast<unsigned>(col->col_type));
        put16(static_cast<unsigned>(col->col_size));
        put8((col->is_fixed ? 1u : 0u) | (col->is_long_auto ? 2u : 0u));
        put8(static_cast<unsigned>(col->col_prec));
        put8(static_cast<unsigned>(col->col_scale));
        // libmdb copies an OLE value's header to the bound buffer, and reads its chunks
        // there; a chunk is at most a page, an inline value at most its read size.
        if (col->col_type == MDB_OLE) {
            ole[i].resize(MDB_BIND_SIZE * 64 + MDB_PGSIZE);
            mdb_bind_column(table, static_cast<int>(i) + 1, ole[i].data(), nullptr);
        }
    }
    flush();
    std::vector<MdbField> fields(table->num_cols);
    uint32_t rows = 0;
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        if (++rows > count.live)
            failure(std::string("таблица «") + table->name + "» выдаёт больше строк, чем " +
                    std::to_string(count.live) + " на её страницах");
        int start = 0;
        std::size_t length = 0;
        if (mdb_find_row(mdb, static_cast<int>(table->cur_row) - 1, &start, &length) != 0)
            failure(std::string("строка таблицы «") + table->name + "» не находится повторно");
        // The count is the row's own: a row written before a column was added has fewer, one
        // written before a column was deleted has more. libmdb reads the columns a row lacks
        // as NULL.
        const int rowColumns = mdb_crack_row(table, start & OffsetMask, length, fields.data());
        if (rowColumns < 0)
            failure(std::string("строка таблицы «") + table->name + "» не читается");
        put8('R');
        for (unsigned i = 0; i < table->num_cols; ++i) {
            const MdbField& field = fields[i];
            if (field.colnum < 0 || static_cast<unsigned>(field.colnum) >= table->num_cols)
                failure(std::string("строка таблицы «") + table->name + "» повреждена");
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, field.colnum));
            if (static_cast<unsigned>(field.colnum) != i)
                failure(std::string("в строке таблицы «") + table->name +
                        "» столбцы идут не по порядку");
            writeValue(mdb, table, col, field, fileSize);
        }
        if (out.size() > (1 << 16))
            flush();
    }
    put8('E');
    put32(rows);
    flush();
    mdb_free_tabledef(table);
}

// libmdb skips a catalogue row it cannot find as if there were none, and with it a whole
// table: the live rows on the catalogue's pages tell.
void checkCatalogueRows(MdbHandle* mdb, const RowCount& count) {
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (std::string(entry->object_name) != "MSysObjects")
            continue;
        MdbTableDef* table = mdb_read_table(entry);
        if (!table || !mdb_read_columns(table))
            failure("каталог таблиц файла не читается");
        unsigned rows = 0;
        mdb_rewind_table(table);
        while (rows <= count.live && mdb_fetch_row(table))
            ++rows;
        if (rows != count.live)
            failure("в каталоге таблиц файла найдено объектов: " + std::to_string(rows) + " из " +
                    std::to_string(count.live));
        mdb_free_tabledef(table);
        put8('C');
        put32(count.stored);
        put32(count.live);
        return;
    }
    failure("в файле нет каталога таблиц");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("использование: krepiks-jet-reader FILE\n", stderr);
        return 2;
    }
    struct stat info {};
    if (stat(argv[1], &info) != 0)
        failure("файл не читается");
    out = "KJET1\n";
    const Pages pages(argv[1], info.st_size);
    // The catalogue's pages before libmdb reads them, so that a file cut short says so.
    const RowCount catalogue = countRows(pages, 2, "MSysObjects");
    MdbHandle* mdb = mdb_open(argv[1], MDB_NOFLAGS);
    if (!mdb)
        failure("libmdb не открывает файл");
    requireLayout(krepiks::jet::HandleLayoutMismatch(mdb, argv[1]));
    if (mdb->f->jet_version != MDB_VER_JET4)
        failure("файл не в формате Jet 4.0");
    if (!mdb_read_catalog(mdb, MDB_TABLE))
        failure("каталог таблиц файла не читается");
    requireLayout(krepiks::jet::CatalogueLayoutMismatch(mdb));
    checkCatalogueRows(mdb, catalogue);
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (mdb_is_user_table(entry))
            writeTable(mdb, entry, pages, info.st_size);
    }
    put8('Z');
    flush();
    mdb_close(mdb);
    return std::fflush(stdout) == 0 ? 0 : 3;
}
