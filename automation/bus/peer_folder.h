#pragma once
// The folder of a server's direct-connection socket: private to this user, named after the
// server's process, so that the folders that killed servers left behind can be told and
// swept by the next server.
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace automation::bus::server {

// Sweeps the folders of ended servers, then makes this server's folder in
// $XDG_RUNTIME_DIR (else the temporary folder), mode 0700. It is left in place when the
// object goes: the socket in it must go first (RemovePeerFolder). Null when it cannot be made.
std::unique_ptr<QTemporaryDir> MakePeerFolder();

// The D-Bus address of the socket in folder.
QString PeerSocketAddress(const QTemporaryDir& folder);

// Removes the socket and then the folder at path.
void RemovePeerFolder(const QString& path);

} // namespace automation::bus::server
