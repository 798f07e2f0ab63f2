#pragma once
// What the copies check once their rows are written: each value read back against the one
// written, and the count of rows copied. For the copies' own files only.
#include "catalogue/copy_rows.h"

namespace krepiks::copying {

// Whether the value read back is the one written: NULL, bytes, number and text each alike.
bool sameValue(const QVariant& a, const QVariant& b);

// The first difference between what was written and what reads back, or "".
QString compare(const Table& table, const Rows& written, const Rows& read);

// Writes the catalogue's tables into the new file target and reads each back, failing on the
// first value that does not return as written.
void writeChecked(const File& target, const std::vector<Rows>& rows);

// "N rows of <table>" for each of the catalogue's tables, in their order.
QString summary(const std::vector<Rows>& copied);

} // namespace krepiks::copying
