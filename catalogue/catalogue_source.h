#pragma once
// The catalogue Krepiks would open here: the office's server when the "krepiks" connection
// service is defined, else bolti.mdb in the current folder. For krepiks-catalogue's commands
// that read the whole catalogue.
#include "catalogue/catalogue_copy.h"

namespace krepiks {

// Reads both tables of that catalogue; where says which one it was (the server's service or
// the file's path). Throws EDatabaseError, naming the catalogue, when it cannot be read or
// when Krepiks would refuse it at start-up.
CatalogueRows ReadCurrentCatalogue(QString* where);

} // namespace krepiks
