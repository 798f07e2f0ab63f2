#include "support/private_postgres.h"

#include "catalogue/server_schema.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#ifdef KREPIKS_PRIVATE_POSTGRES_NO_GTEST
#include <cstdio>
// Benchmarks have no test to fail: they say it and go on.
#define ADD_FAILURE() PrintedFailure()
namespace {
struct PrintedFailure {
    std::string text;
    ~PrintedFailure() { std::fprintf(stderr, "private server: %s\n", text.c_str()); }
    template <typename T> PrintedFailure& operator<<(const T& value) {
        if constexpr (std::is_convertible_v<T, std::string>)
            text += std::string(value);
        else
            text += std::to_string(value);
        return *this;
    }
};
} // namespace
#else
#include <gtest/gtest.h>
#endif
#include <csignal>
#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace krepiks::test {

namespace {

// The server's programs: Debian keeps them out of PATH, in a folder per server version
// (/usr/lib/postgresql/<version>/bin); the newest version installed serves.
QString serverProgram(const QString& name) {
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QString newest;
    int newestVersion = -1;
    for (const QString& entry : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int version = entry.toInt(&number);
        const QString program = versions.filePath(entry + QStringLiteral("/bin/") + name);
        if (number && version > newestVersion && QFile::exists(program)) {
            newestVersion = version;
            newest = program;
        }
    }
    return newest.isEmpty() ? name : newest;
}

QString quotedConninfo(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

void writeFile(const QString& path, const QString& text, QFile::Permissions permissions) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
        throw std::runtime_error("cannot write " + path.toStdString());
    file.close();
    file.setPermissions(permissions);
}

// Starts krepiks-test-reaper reading a pipe whose write end, returned, only this process
// holds (it is closed in every program this process starts); -1 when the reaper could not
// start. Once the reaper's first process has exited, the detached one holds the pipe.
int StartReaper(const QStringList& arguments, QString* failure) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        *failure = QStringLiteral("no pipe for the reaper");
        return -1;
    }
    std::vector<QByteArray> words{QByteArrayLiteral(KREPIKS_TEST_REAPER)};
    for (const QString& argument : arguments)
        words.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[0]);
    int status = 0;
    if (spawned == 0)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        close(ends[1]);
        *failure = QStringLiteral("krepiks-test-reaper did not start");
        return -1;
    }
    return ends[1];
}

} // namespace

PrivatePostgres::ReaperPipe::~ReaperPipe() {
    if (fd >= 0)
        close(fd);
}

PrivatePostgres::PrivatePostgres()
    : dir_(QDir::tempPath() + QStringLiteral("/krepiks-pg-XXXXXX")), asNobody_(geteuid() == 0) {
    if (!dir_.isValid()) {
        failure_ = QStringLiteral("no temporary folder");
        return;
    }
    data_ = dir_.path() + QStringLiteral("/data");
    // pg_ctl detaches the server, so nothing else ends it with this process.
    reaper_.fd = StartReaper({QStringLiteral("--pid-file"),
                              data_ + QStringLiteral("/postmaster.pid"), QStringLiteral("--signal"),
                              QStringLiteral("QUIT"), QStringLiteral("--remove"), dir_.path()},
                             &failure_);
    if (reaper_.fd < 0)
        return;
    const QString passwordFile = dir_.path() + QStringLiteral("/password");
    writeFile(passwordFile, password() + QLatin1Char('\n'), QFile::ReadOwner | QFile::WriteOwner);
    if (asNobody_) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody ||
            chown(QFile::encodeName(dir_.path()).constData(), nobody->pw_uid, nobody->pw_gid) !=
                0 ||
            chown(QFile::encodeName(passwordFile).constData(), nobody->pw_uid, nobody->pw_gid) !=
                0) {
            failure_ = QStringLiteral("cannot hand the folder to nobody");
            return;
        }
    }
    if (!run(serverProgram(QStringLiteral("initdb")),
             {QStringLiteral("-D"), data_, QStringLiteral("-U"), user(),
              QStringLiteral("--pwfile=") + passwordFile, QStringLiteral("--auth=scram-sha-256"),
              QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C.UTF-8"),
              QStringLiteral("--no-sync")},
             true))
        return;
    // No TCP at all; the socket lives in the test's folder. Durability does not matter here.
    const QString options = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' "
                                           "-c fsync=off -c synchronous_commit=off "
                                           "-c full_page_writes=off")
                                .arg(dir_.path());
    if (!run(serverProgram(QStringLiteral("pg_ctl")),
             {QStringLiteral("-D"), data_, QStringLiteral("-o"), options, QStringLiteral("-l"),
              dir_.path() + QStringLiteral("/server.log"), QStringLiteral("-w"),
              QStringLiteral("-t"), QStringLiteral("120"), QStringLiteral("start")},
             true))
        return;
    started_ = true;
    exec(QStringLiteral("create database ") + database(), QStringLiteral("postgres"));
}

PrivatePostgres::~PrivatePostgres() {
    if (started_)
        run(serverProgram(QStringLiteral("pg_ctl")),
            {QStringLiteral("-D"), data_, QStringLiteral("-m"), QStringLiteral("immediate"),
             QStringLiteral("-w"), QStringLiteral("stop")},
            true);
}

bool PrivatePostgres::run(const QString& program, const QStringList& arguments, bool asServerUser) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // initdb and pg_ctl end with this process rather than write on into a folder that the
    // reaper removes. A change of user clears the setting, so setpriv sets it again after.
    const pid_t parent = getpid();
    process.setChildProcessModifier([parent] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
    });
    if (asServerUser && asNobody_)
        process.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=nobody"),
                                                             QStringLiteral("--regid=nogroup"),
                                                             QStringLiteral("--clear-groups"),
                                                             QStringLiteral("--pdeathsig=KILL"),
                                                             QStringLiteral("--"), program} +
                                                     arguments);
    else
        process.start(program, arguments);
    // Bounded only by ctest's own limit: the server's start has no fixed duration.
    const bool finished = process.waitForFinished(-1);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    failure_ = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
    return false;
}

QString PrivatePostgres::conninfo(const QString& db) const {
    return QStringLiteral("host=%1 dbname=%2 user=%3 password=%4")
        .arg(quotedConninfo(dir_.path()), quotedConninfo(db), quotedConninfo(user()),
             quotedConninfo(password()));
}

QString PrivatePostgres::writeHome(const QString& folder, const QString& serviceLines,
                                   const QString& pgpassPassword) const {
    QDir().mkpath(folder);
    const QString lines =
        serviceLines.isEmpty()
            ? QStringLiteral("host=%1\ndbname=%2\nuser=%3\n").arg(dir_.path(), database(), user())
            : serviceLines;
    writeFile(folder + QStringLiteral("/.pg_service.conf"),
              QStringLiteral("# the office catalogue\n[krepiks]\n") + lines,
              QFile::ReadOwner | QFile::WriteOwner);
    // host:port:database:user:password, with ':' and '\' escaped.
    QString escapedHost = dir_.path();
    escapedHost.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char(':'), QLatin1String("\\:"));
    writeFile(folder + QStringLiteral("/.pgpass"),
              QStringLiteral("%1:*:*:%2:%3\n").arg(escapedHost, user(), pgpassPassword),
              QFile::ReadOwner | QFile::WriteOwner);
    return folder;
}

QProcessEnvironment PrivatePostgres::catalogueEnvironment(const QString& folder) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), folder);
    for (const char* name : {"PGSERVICEFILE", "PGPASSFILE", "PGSYSCONFDIR", "PGHOST", "PGUSER",
                             "PGDATABASE", "PGPASSWORD", "PGSERVICE"})
        environment.remove(QString::fromLatin1(name));
    // No system-wide service may stand in for the test's own.
    environment.insert(QStringLiteral("PGSYSCONFDIR"), folder + QStringLiteral("/no-system"));
    return environment;
}

void PrivatePostgres::useAsCatalogue(const QString& folder) const {
    const QProcessEnvironment environment = catalogueEnvironment(folder);
    for (const char* name : {"PGSERVICEFILE", "PGPASSFILE", "PGHOST", "PGUSER", "PGDATABASE",
                             "PGPASSWORD", "PGSERVICE"})
        qunsetenv(name);
    qputenv("HOME", QFile::encodeName(folder));
    qputenv("PGSYSCONFDIR", QFile::encodeName(environment.value(QStringLiteral("PGSYSCONFDIR"))));
}

void PrivatePostgres::exec(const QString& sql, const QString& db) const {
    PGconn* connection = PQconnectdb(conninfo(db).toUtf8().constData());
    if (PQstatus(connection) != CONNECTION_OK) {
        ADD_FAILURE() << "cannot reach the test server: " << PQerrorMessage(connection);
        PQfinish(connection);
        return;
    }
    PGresult* result = PQexec(connection, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        ADD_FAILURE() << sql.toStdString() << ": " << PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
}

QString PrivatePostgres::scalar(const QString& sql) const {
    PGconn* connection = PQconnectdb(conninfo().toUtf8().constData());
    PGresult* result = PQexec(connection, sql.toUtf8().constData());
    QString value;
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1)
        value = QString::fromUtf8(PQgetvalue(result, 0, 0));
    else
        ADD_FAILURE() << sql.toStdString() << ": " << PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
    return value;
}

void PrivatePostgres::dropConnections() const {
    exec(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity "
                        "where datname = '%1' and pid <> pg_backend_pid()")
             .arg(database()),
         QStringLiteral("postgres"));
}

void PrivatePostgres::createCatalogue(bool sample, const QString& templatePath) const {
    for (const QString& statement : ServerSchemaStatements())
        exec(statement);
    if (!sample)
        return;
    QFile file(QStringLiteral(KREPIKS_SAMPLE_CATALOGUE));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("sample catalogue script missing");
    QString script = QString::fromUtf8(file.readAll());
    // The sample's rows are plain SQL that the server reads as it is.
    script = script.mid(script.indexOf(QStringLiteral("insert into")));
    QString escaped = templatePath;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    script.replace(QStringLiteral("@TEMPLATE_PATH@"), escaped);
    exec(script);
}

} // namespace krepiks::test
