#pragma once
// A PostgreSQL server of the test's own: a fresh cluster in a temporary folder, reached only
// through a Unix socket there, with a password-protected user. Under root it runs as
// "nobody", since the server refuses root. Stopped and removed with the object, or, should
// the process end first (killed, say), by krepiks-test-reaper.
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace krepiks::test {

class PrivatePostgres {
public:
    PrivatePostgres();
    ~PrivatePostgres();
    PrivatePostgres(const PrivatePostgres&) = delete;
    PrivatePostgres& operator=(const PrivatePostgres&) = delete;

    // Why the server could not be started; empty when it runs.
    QString failure() const { return failure_; }
    QString socketFolder() const { return dir_.path(); }
    static QString user() { return QStringLiteral("krepiks"); }
    static QString password() { return QStringLiteral("sekret-болт"); }
    static QString database() { return QStringLiteral("bolti"); }
    // libpq's connection string for database, password included.
    QString conninfo(const QString& db = database()) const;

    // A home folder whose ~/.pg_service.conf names this server as the "krepiks" service and
    // whose ~/.pgpass holds the password; serviceLines replace the service's own lines.
    QString writeHome(const QString& folder, const QString& serviceLines = {},
                      const QString& pgpassPassword = password()) const;
    // Points this process's libpq at writeHome's files in folder.
    void useAsCatalogue(const QString& folder) const;
    // The same for a child process.
    QProcessEnvironment catalogueEnvironment(const QString& folder) const;

    // Creates the catalogue's tables in the catalogue database and fills them from the
    // sample catalogue (with templatePath), or leaves them empty.
    void createCatalogue(bool sample = true,
                         const QString& templatePath = QStringLiteral("/tmp/part.kprt")) const;
    // Runs SQL on database; fails the test on error.
    void exec(const QString& sql, const QString& db = database()) const;
    // The single value of a query, as text ("" for NULL).
    QString scalar(const QString& sql) const;
    // Ends every other session on the catalogue database, as a server restart would.
    void dropConnections() const;

private:
    bool run(const QString& program, const QStringList& arguments, bool asServerUser);

    // The write end of the reaper's pipe: closed after the folder is removed, so that the
    // reaper finds nothing left to do.
    struct ReaperPipe {
        int fd = -1;
        ~ReaperPipe();
    };
    ReaperPipe reaper_;
    QTemporaryDir dir_;
    QString data_;
    QString failure_;
    bool started_ = false;
    bool asNobody_ = false;
};

} // namespace krepiks::test
