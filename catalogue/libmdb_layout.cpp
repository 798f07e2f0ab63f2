#include "catalogue/libmdb_layout.h"

#include <cstdio>
#include <cstring>

namespace krepiks::jet {

namespace {

bool IsName(const char* name, std::size_t capacity) {
    const void* end = std::memchr(name, '\0', capacity);
    return end != nullptr && end != name;
}

} // namespace

std::string HandleLayoutMismatch(const MdbHandle* mdb, const unsigned char* firstPage,
                                 std::size_t size) {
    constexpr std::size_t Header = 0x18; // the signature and the version byte
    if (size < Header)
        return "первая страница файла слишком коротка для сравнения";
    if (!mdb->f || !mdb->f->stream || !mdb->fmt)
        return "у дескриптора нет файла или формата";
    // libmdb keeps the version byte (0x14) as it is; Jet 3 pages are 2048 bytes, later 4096.
    if (mdb->f->jet_version != static_cast<guint32>(firstPage[0x14]))
        return "версия Jet в дескрипторе не та, что в файле";
    const guint16 pageSize = firstPage[0x14] == MDB_VER_JET3 ? 2048 : 4096;
    if (mdb->fmt->pg_size != pageSize)
        return "размер страницы в формате равен " + std::to_string(mdb->fmt->pg_size);
    // The page buffer still holds page 0 as read.
    if (mdb->cur_pg != 0 || std::memcmp(mdb->pg_buf, firstPage, Header) != 0)
        return "в буфере страницы нет первой страницы файла";
    return {};
}

std::string HandleLayoutMismatch(const MdbHandle* mdb, const char* path) {
    unsigned char first[0x18] = {};
    std::size_t size = 0;
    if (FILE* file = std::fopen(path, "rb")) {
        size = std::fread(first, 1, sizeof first, file);
        std::fclose(file);
    }
    return HandleLayoutMismatch(mdb, first, size);
}

std::string CatalogueLayoutMismatch(const MdbHandle* mdb) {
    if (!mdb->catalog || mdb->catalog->len != mdb->num_catalog)
        return "число записей каталога не равно его длине";
    bool objects = false;
    for (guint i = 0; i < mdb->catalog->len; ++i) {
        const auto* entry = static_cast<const MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (!entry || entry->mdb != mdb || entry->object_type != MDB_TABLE ||
            !IsName(entry->object_name, sizeof entry->object_name))
            return "запись каталога — не таблица этого файла";
        // libmdb reads the catalogue itself from the table on page 2.
        if (std::strcmp(entry->object_name, "MSysObjects") == 0)
            objects = entry->table_pg == 2;
    }
    return objects ? std::string() : "собственная таблица каталога не на странице 2";
}

std::string TableLayoutMismatch(const MdbCatalogEntry* entry, const MdbTableDef* table) {
    if (table->entry != entry)
        return "таблица не указывает на свою запись каталога";
    if (!table->columns || table->columns->len != table->num_cols)
        return "число столбцов таблицы не равно длине их списка";
    for (guint i = 0; i < table->columns->len; ++i) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, i));
        if (!col || col->table != table || !IsName(col->name, sizeof col->name))
            return "столбец не принадлежит своей таблице";
    }
    return {};
}

std::string LayoutFailure(const std::string& mismatch) {
    return "установленная здесь libmdb располагает свои структуры иначе, чем libmdb " +
           std::string(KREPIKS_LIBMDB_VERSION) + ", с которой собран krepiks-jet-reader (" +
           mismatch + "); установите Крепикс, собранный для этой системы";
}

} // namespace krepiks::jet
