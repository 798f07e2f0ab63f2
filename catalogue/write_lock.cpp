#include "catalogue/write_lock.h"

#include "catalogue/server_engine.h"
#include "catalogue/sqlite_engine.h"
#include "platform/exception.h"

#include <QSqlError>
#include <QSqlQuery>

namespace krepiks {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

// The one server lock every Krepiks takes to add a variant (an arbitrary fixed number).
constexpr qlonglong VariantNamesLock = 0x4b726570696b73;

void runLockStatement(TADOConnection& connection, const QString& statement) {
    connection.noteStatement(statement);
    if (PGconn* server = server::Handle(connection.database())) {
        server::Exec(server, statement);
        return;
    }
    QSqlQuery query(connection.database());
    if (!query.exec(statement))
        fail(ProviderErrorText(query.lastError(), connection.filePath()));
}

} // namespace

TWriteLock::TWriteLock(TADOConnection& connection) : connection_(connection) {
    connection_.Ensure();
    if (connection_.onServer()) {
        // Readers never wait on the server; only adders queue behind this lock, and no
        // longer than another process's file lock would hold them.
        runLockStatement(connection_, QStringLiteral("begin"));
        held_ = true;
        runLockStatement(connection_,
                         QStringLiteral("set local lock_timeout = %1").arg(BusyTimeoutMs()));
        runLockStatement(connection_,
                         QStringLiteral("select pg_advisory_xact_lock(%1)").arg(VariantNamesLock));
        return;
    }
    // Immediate: the lock is taken now, before the read, not at the first write after it.
    runLockStatement(connection_, QStringLiteral("begin immediate"));
    held_ = true;
}

TWriteLock::~TWriteLock() {
    Release();
}

void TWriteLock::Commit() {
    if (!held_)
        return;
    runLockStatement(connection_, QStringLiteral("commit")); // rolled back later on failure
    held_ = false;
}

void TWriteLock::Release() {
    if (!held_)
        return;
    held_ = false;
    // Closing the connection has ended the transaction already.
    if (!connection_.Connected())
        return;
    try {
        runLockStatement(connection_, QStringLiteral("rollback"));
    } catch (const EDatabaseError&) {
        // A lost server has rolled back on its own.
    }
}

} // namespace krepiks
