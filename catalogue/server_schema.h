#pragma once
// The catalogue's tables on a server: the file's tables, columns and types, spelled so
// that the program's statements run on them unchanged.
#include <QStringList>

namespace krepiks {

// The statements that create the tables on an empty server database, in order.
QStringList ServerSchemaStatements();

// The tables of the catalogue, in the order they are created and copied.
QStringList CatalogueTables();

} // namespace krepiks
