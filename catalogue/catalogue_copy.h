#pragma once
// Moving a catalogue between a bolti.mdb file and the office's server: the file's rows into
// an empty server database, or the server's rows into a new file. Each copy reads its rows
// back and compares them value for value before it keeps anything, and neither overwrites
// anything that exists.
#include "catalogue/catalogue_check.h"
#include "catalogue/file_into_place.h"
#include "catalogue/jet_reader.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <libpq-fe.h>
#include <vector>

namespace krepiks {

struct CopyResult {
    bool ok = false;
    QString message;        // what was copied, or why nothing was
    QStringList notes = {}; // what was odd about the source but lost nothing, a line each
};

// Creates the catalogue's tables in the server database and copies every row of file (a
// catalogue file, or a Jet 4.0 file read with the reader program) into them, keys included.
// Refused when the database already holds either table.
CopyResult CopyFileToServer(const QString& file, PGconn* server,
                            const QString& reader = JetReaderProgram());

// Writes the server's catalogue into a new file. Refused when file exists.
CopyResult CopyServerToFile(PGconn* server, const QString& file);

struct JetCopyResult {
    bool written = false;        // the new file was kept
    bool krepiksCanOpen = false; // and Krepiks would open it as its catalogue
    QString message;             // what was copied, or why nothing was
    QStringList notes;           // what was odd about the source but lost nothing, a line each
    QString problem;             // why Krepiks would refuse the copy
};

// Writes every user table of the Jet 4.0 file jet (read with the reader program) into the
// new catalogue file file: columns, types, rows and keys, every value read back and compared
// before the file is kept. Refused when file exists. Then checks the copy as Krepiks checks
// its catalogue at start-up.
JetCopyResult CopyJetToFile(const QString& jet, const QString& file,
                            const QString& reader = JetReaderProgram());

// Writes the catalogue that the SQL script makes (the sample one shipped with Krepiks) into
// the new file, with templatePath as its part template. Refused when file exists.
CopyResult WriteSampleCatalogue(const QString& file, const QString& script,
                                const QString& templatePath);

// The catalogue's two tables as rows of values, each row in its table's column order:
// id, isp, d0 … e, and id_swApp, path_templete_detal. A NULL is a null QVariant.
struct CatalogueRows {
    std::vector<std::vector<QVariant>> variants;
    std::vector<std::vector<QVariant>> templatePaths;
};

// The columns of Размеры in their order, the key first.
const QStringList& VariantColumns();

// Both tables of a catalogue file, or of the server's catalogue, in key order. Throw
// EDatabaseError.
CatalogueRows ReadCatalogueFile(const QString& file);
CatalogueRows ReadCatalogueServer(PGconn* server);

// Writes the tables into the new catalogue file file, with the sample catalogue's tables,
// reads every value back and compares it before the file is kept. Refused when file exists.
CopyResult WriteCatalogueFile(const QString& file, const CatalogueRows& tables);

} // namespace krepiks
