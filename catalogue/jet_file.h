#pragma once
// What the first page of a Microsoft Jet file says about it, read without any Jet library:
// enough to tell Access's formats apart at start-up and before the reader is started.
#include <QByteArray>
#include <QString>

namespace krepiks {

enum class JetFormat { NotJet, Jet3, Jet4, Ace };

struct JetHeader {
    JetFormat format = JetFormat::NotJet;
    bool encrypted = false;         // the pages are RC4-encoded with a key of the file's own
    bool passwordProtected = false; // a database password is set
};

// The header of a file's first bytes (a page or less).
JetHeader ReadJetHeader(const QByteArray& firstPage);
// The header of the file at path; NotJet when it cannot be read.
JetHeader ReadJetHeaderOf(const QString& path);

// Why a Jet file of this header cannot be read, naming file; empty for a readable Jet 4.0
// file.
QString JetRefusal(const JetHeader& header, const QString& file);

// Why path is nothing a copy can read from (missing, a folder, a device), naming it; empty for
// a regular file.
QString NoFileToRead(const QString& path);

} // namespace krepiks
