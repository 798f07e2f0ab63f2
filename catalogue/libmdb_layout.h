// krepiks-jet-reader reads libmdb's structures directly: the handle's page buffer and format,
// the catalogue, tables and columns. Their layout is the one of the libmdb headers it was
// built with; libmdb keeps one soname over releases whose structures differ, so these
// checks compare what the library it runs with wrote against what the reader knows
// independently (the file's own first page, counts held twice, pointers back). Each returns
// what differs, empty when nothing does.
#pragma once

// glib declares C++ templates of its own; it must come before the header that wraps it in
// extern "C".
#include <glib.h>
#include <mdbtools.h>
#include <string>

namespace krepiks::jet {

// Just after mdb_open of a file whose first bytes (at least 0x18) are firstPage; or of the
// file at path, whose first bytes it reads itself.
std::string HandleLayoutMismatch(const MdbHandle* mdb, const unsigned char* firstPage,
                                 std::size_t size);
std::string HandleLayoutMismatch(const MdbHandle* mdb, const char* path);

// Just after mdb_read_catalog(mdb, MDB_TABLE).
std::string CatalogueLayoutMismatch(const MdbHandle* mdb);

// Just after mdb_read_table(entry) and mdb_read_columns.
std::string TableLayoutMismatch(const MdbCatalogEntry* entry, const MdbTableDef* table);

// The sentence the reader stops with when one of the above found something.
std::string LayoutFailure(const std::string& mismatch);

} // namespace krepiks::jet
