#pragma once
// Moving a catalogue between a bolti.mdb file and the office's server: the file's rows into
// an empty server database, or the server's rows into a new file. Each copy reads its rows
// back and compares them value for value before it keeps anything, and neither overwrites
// anything that exists.
#include <QString>
#include <libpq-fe.h>

namespace krepiks {

struct CopyResult {
    bool ok = false;
    QString message; // what was copied, or why nothing was
};

// Creates the catalogue's tables in the server database and copies every row of file into
// them, keys included. Refused when the database already holds either table.
CopyResult CopyFileToServer(const QString& file, PGconn* server);

// Writes the server's catalogue into a new file. Refused when file exists.
CopyResult CopyServerToFile(PGconn* server, const QString& file);

} // namespace krepiks
