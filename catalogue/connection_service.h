#pragma once
// Whether this user's PostgreSQL client settings name the office's catalogue server: a
// connection service called "krepiks", looked up where libpq looks for services.
#include <QString>

namespace krepiks {

// The service that selects the server catalogue.
inline constexpr char CatalogueService[] = "krepiks";

// The service file holding a [krepiks] section, in libpq's order: PGSERVICEFILE (or
// ~/.pg_service.conf), then pg_service.conf in PGSYSCONFDIR (or the system folder). Empty
// when no file defines it: the catalogue is then the file in the working folder.
QString CatalogueServiceFile();

} // namespace krepiks
