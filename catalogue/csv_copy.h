#pragma once
// The table Размеры out to a spreadsheet's CSV and a spreadsheet's CSV into a new catalogue.
#include "catalogue/catalogue_copy.h"

#include <QString>

namespace krepiks {

// Writes the variants of tables as CSV into the new file csv: a header of the column names
// in their order, then one record per variant. Refused when csv exists.
CopyResult WriteVariantsCsv(const CatalogueRows& tables, const QString& csv);

// Reads the CSV file csv (RFC 4180, or a spreadsheet's ';' with decimal commas), checks
// every cell by the catalogue's and the design window's rules and writes every row into the
// new catalogue file file, templatePath (when not empty) as its part template. The first bad
// cell refuses the whole file, named by its line and column; nothing is written then.
CopyResult CsvToCatalogue(const QString& csv, const QString& file, const QString& templatePath);

} // namespace krepiks
