#include "catalogue/jet_reader.h"

#include "catalogue/jet_file.h"
#include "install/install_layout.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace krepiks {

namespace {

class Cursor {
public:
    explicit Cursor(const QByteArray& bytes) : bytes_(bytes) {}
    bool atEnd() const { return at_ >= bytes_.size(); }
    bool take(qsizetype n, const char** data) {
        if (n < 0 || bytes_.size() - at_ < n)
            return false;
        *data = bytes_.constData() + at_;
        at_ += n;
        return true;
    }
    bool u8(quint32* value) { return number(1, value); }
    bool u16(quint32* value) { return number(2, value); }
    bool u32(quint32* value) { return number(4, value); }
    bool blob(QByteArray* value) {
        quint32 size = 0;
        const char* data = nullptr;
        if (!u32(&size) || !take(static_cast<qsizetype>(size), &data))
            return false;
        *value = QByteArray(data, static_cast<qsizetype>(size));
        return true;
    }

private:
    bool number(int n, quint32* value) {
        const char* data = nullptr;
        if (!take(n, &data))
            return false;
        *value = 0;
        for (int i = n - 1; i >= 0; --i)
            *value = (*value << 8) | static_cast<uint8_t>(data[i]);
        return true;
    }
    const QByteArray& bytes_;
    qsizetype at_ = 0;
};

template <typename T> T raw(const QByteArray& bytes) {
    T value{};
    std::memcpy(&value, bytes.constData(), sizeof value);
    return value;
}

int fixedSize(int type) {
    switch (static_cast<JetType>(type)) {
    case JetType::Boolean:
    case JetType::Byte:
        return 1;
    case JetType::Integer:
        return 2;
    case JetType::Long:
    case JetType::Single:
        return 4;
    case JetType::Currency:
    case JetType::Double:
    case JetType::DateTime:
        return 8;
    case JetType::ReplicationId:
        return 16;
    default:
        return -1;
    }
}

QString guidText(const QByteArray& b) {
    const auto hex = [&](int from, int to, bool reversed) {
        QByteArray part;
        for (int i = from; i < to; ++i)
            part.append(b[reversed ? to - 1 - (i - from) : i]);
        return QString::fromLatin1(part.toHex().toUpper());
    };
    return QStringLiteral("{%1-%2-%3-%4-%5}")
        .arg(hex(0, 4, true), hex(4, 6, true), hex(6, 8, true), hex(8, 10, false),
             hex(10, 16, false));
}

// The value of one column from its bytes; an invalid QVariant and why when they are unsound.
QVariant decode(const JetColumn& column, const QByteArray& bytes, QString* why) {
    const int size = fixedSize(column.type);
    if (size > 0 && bytes.size() != size) {
        *why = QStringLiteral("у значения столбца %1 неверная длина: %2 байт")
                   .arg(column.name)
                   .arg(bytes.size());
        return {};
    }
    switch (static_cast<JetType>(column.type)) {
    case JetType::Boolean:
        return static_cast<qlonglong>(bytes[0] != 0);
    case JetType::Byte:
        return static_cast<qlonglong>(static_cast<uint8_t>(bytes[0]));
    case JetType::Integer:
        return static_cast<qlonglong>(raw<int16_t>(bytes));
    case JetType::Long:
        return static_cast<qlonglong>(raw<int32_t>(bytes));
    case JetType::Single:
        return static_cast<double>(raw<float>(bytes));
    case JetType::Double:
        return raw<double>(bytes);
    case JetType::Currency: {
        const int64_t count = raw<int64_t>(bytes);
        const double value = static_cast<double>(count) / 10000.0;
        // Beyond 2^53 / 10^4 a double no longer carries every ten-thousandth.
        if (std::fabs(value) >= 9.0e11 || std::llround(value * 10000.0) != count) {
            *why = QStringLiteral("в значении Currency столбца %1 больше цифр, чем копия "
                                  "переносит точно")
                       .arg(column.name);
            return {};
        }
        return value;
    }
    case JetType::DateTime: {
        const QString text = JetDateText(raw<double>(bytes));
        if (text.isEmpty())
            *why = QStringLiteral("значение Date/Time столбца %1 вне допустимого диапазона")
                       .arg(column.name);
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case JetType::Text:
    case JetType::Memo:
    case JetType::Numeric: {
        const QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes) {
            *why = QStringLiteral("текст столбца %1 — испорченный UTF-8").arg(column.name);
            return {};
        }
        return text;
    }
    case JetType::ReplicationId:
        return guidText(bytes);
    case JetType::Binary:
    case JetType::Ole:
        return bytes;
    }
    *why = QStringLiteral("тип (%2) столбца %1 не читается").arg(column.name).arg(column.type);
    return {};
}

JetReadResult failed(const QString& why) {
    JetReadResult result;
    result.error = why;
    return result;
}

struct ChildRun {
    QByteArray out, err;
    bool timedOut = false;
    int status = 0;
    QString startError;
};

// Runs the reader on file, reading both its outputs until it ends or stays silent too long.
ChildRun runReader(const QString& reader, const QString& file, int timeoutMs) {
    ChildRun run;
    const QByteArray program = QFile::encodeName(reader);
    const QByteArray path = QFile::encodeName(file);
    // libmdb reads debugging and character-set choices from the environment; none of them
    // may change what it reads.
    std::vector<char*> environment;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "MDB", 3) != 0)
            environment.push_back(*e);
    environment.push_back(nullptr);
    char* const arguments[] = {const_cast<char*>(program.constData()),
                               const_cast<char*>(path.constData()), nullptr};
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return run.startError = QString::fromLocal8Bit(std::strerror(errno)), run;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return run.startError = QString::fromLocal8Bit(std::strerror(errno)), run;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0)
            dup2(nothing, STDIN_FILENO);
        // A loop inside libmdb burns processor time; the kernel ends it even if we cannot.
        const rlim_t seconds = static_cast<rlim_t>(timeoutMs / 1000 + 1);
        const rlimit cpu{seconds, seconds + 1};
        setrlimit(RLIMIT_CPU, &cpu);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        execve(program.constData(), arguments, environment.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (child < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return run.startError = QString::fromLocal8Bit(std::strerror(errno)), run;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            run.timedOut = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? run.out : run.err).append(buffer, n);
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    if (run.timedOut)
        kill(child, SIGKILL);
    while (waitpid(child, &run.status, 0) < 0 && errno == EINTR) {
    }
    return run;
}

} // namespace

QString JetDateText(double days) {
    // Access keeps dates from year 100 to 9999.
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6)
        return {};
    double whole = std::trunc(days);
    long long ms = std::llround(std::fabs(days - whole) * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        whole += 1; // the next moment after a day's last is the next calendar day
    }
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(whole));
    if (!date.isValid() || date.year() < 100 || date.year() > 9999)
        return {};
    return date.toString(QStringLiteral("yyyy-MM-dd ")) +
           QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms))
               .toString(QStringLiteral("HH:mm:ss.zzz"));
}

namespace {

// The reason the reader gave for giving up; a failure always says something.
QString givenUp(Cursor& in, const QString& cut) {
    QByteArray why;
    if (!in.blob(&why))
        return cut;
    return why.isEmpty() ? QStringLiteral("программа чтения остановилась, не сказав почему")
                         : QString::fromUtf8(why);
}

} // namespace

JetReadResult ParseJetStream(const QByteArray& stream) {
    Cursor in(stream);
    const char* magic = nullptr;
    if (!in.take(6, &magic) || QByteArray(magic, 6) != "KJET1\n")
        return failed(QStringLiteral("программа чтения не выдала ничего понятного"));
    JetReadResult result;
    const QString cut = QStringLiteral("программа чтения остановилась, не дойдя до конца файла");
    // Access counts a table's rows loosely; only the rows on its pages count.
    const auto noteStale = [&](const QString& table, quint32 stored, quint32 live) {
        if (stored != live)
            result.notes << QStringLiteral("в таблице «%1» записано число строк %2, а их в ней %3")
                                .arg(table)
                                .arg(stored)
                                .arg(live);
    };
    // The catalogue of tables comes first, checked whole.
    quint32 tag = 0;
    if (!in.u8(&tag))
        return failed(cut);
    if (tag == 'X')
        return failed(givenUp(in, cut));
    quint32 stored = 0, live = 0;
    if (tag != 'C')
        return failed(QStringLiteral("программа чтения выдала лишнюю часть"));
    if (!in.u32(&stored) || !in.u32(&live))
        return failed(cut);
    noteStale(QStringLiteral("MSysObjects"), stored, live);
    for (;;) {
        if (!in.u8(&tag))
            return failed(cut);
        if (tag == 'Z')
            break;
        if (tag == 'X')
            return failed(givenUp(in, cut));
        if (tag != 'T')
            return failed(QStringLiteral("программа чтения выдала лишнюю часть"));
        JetTable table;
        QByteArray name;
        quint32 columns = 0;
        if (!in.blob(&name) || !in.u32(&table.storedRows) || !in.u32(&table.liveRows) ||
            !in.u16(&columns))
            return failed(cut);
        table.name = QString::fromUtf8(name);
        if (columns == 0 || columns > 256)
            return failed(
                QStringLiteral("в таблице «%1» столбцов: %2").arg(table.name).arg(columns));
        for (quint32 i = 0; i < columns; ++i) {
            JetColumn column;
            quint32 type = 0, size = 0, flags = 0, precision = 0, scale = 0;
            if (!in.blob(&name) || !in.u8(&type) || !in.u16(&size) || !in.u8(&flags) ||
                !in.u8(&precision) || !in.u8(&scale))
                return failed(cut);
            column.name = QString::fromUtf8(name);
            column.type = static_cast<int>(type);
            column.size = static_cast<int>(size);
            column.autoNumber = (flags & 2) != 0;
            table.columns.push_back(column);
        }
        for (;;) {
            if (!in.u8(&tag))
                return failed(cut);
            if (tag == 'X')
                return failed(givenUp(in, cut));
            if (tag == 'E')
                break;
            if (tag != 'R')
                return failed(QStringLiteral("программа чтения выдала лишнюю часть"));
            std::vector<QVariant> row;
            row.reserve(columns);
            for (const JetColumn& column : table.columns) {
                quint32 present = 0;
                if (!in.u8(&present))
                    return failed(cut);
                if (!present) {
                    row.emplace_back();
                    continue;
                }
                QByteArray bytes;
                if (!in.blob(&bytes))
                    return failed(cut);
                QString why;
                QVariant value = decode(column, bytes, &why);
                if (!why.isEmpty())
                    return failed(QStringLiteral("таблица «%1»: %2").arg(table.name, why));
                row.push_back(std::move(value));
            }
            table.rows.push_back(std::move(row));
        }
        quint32 fetched = 0;
        if (!in.u32(&fetched))
            return failed(cut);
        // libmdb skips rows it cannot place, and ends a table early on some damage, as if
        // there were no more: the rows counted on the table's pages tell.
        if (fetched != table.rows.size() || table.rows.size() != table.liveRows)
            return failed(QStringLiteral("таблица «%1»: прочитано строк %2 из %3")
                              .arg(table.name)
                              .arg(table.rows.size())
                              .arg(table.liveRows));
        noteStale(table.name, table.storedRows, table.liveRows);
        result.tables.push_back(std::move(table));
    }
    if (!in.atEnd())
        return failed(QStringLiteral("программа чтения выдала больше целого файла"));
    result.ok = true;
    return result;
}

QString JetReaderProgram() {
    return QString::fromStdString(krepiks::install::HelperPath("krepiks-jet-reader"));
}

JetReadResult ReadJetFile(const QString& file, const QString& reader, int timeoutMs) {
    const auto named = [&](const QString& why) {
        return failed(QStringLiteral("%1 не читается: %2").arg(file, why));
    };
    if (const QString why = NoFileToRead(file); !why.isEmpty())
        return failed(why);
    // Jet writes whole pages only.
    if (const qint64 size = QFileInfo(file).size(); size % 4096 != 0)
        return named(QStringLiteral("файл обрывается на байте %1, внутри страницы %2: он "
                                    "повреждён или неполон")
                         .arg(size)
                         .arg(size / 4096));
    const QString refusal = JetRefusal(ReadJetHeaderOf(file), file);
    if (!refusal.isEmpty())
        return failed(refusal);
    const ChildRun run = runReader(reader, file, timeoutMs);
    if (!run.startError.isEmpty())
        return named(
            QStringLiteral("программа чтения %1 не запускается: %2").arg(reader, run.startError));
    if (run.timedOut)
        return named(QStringLiteral("чтение не закончилось за %1 с (файл повреждён)")
                         .arg(timeoutMs / 1000.0));
    if (WIFSIGNALED(run.status))
        return named(QStringLiteral("libmdb на нём упала (сигнал %1: файл повреждён)")
                         .arg(WTERMSIG(run.status)));
    if (WIFEXITED(run.status) && WEXITSTATUS(run.status) == 127)
        return named(QStringLiteral("программа чтения %1 не запускается").arg(reader));
    if (!run.err.isEmpty())
        return named(
            QStringLiteral("предупреждение libmdb: %1")
                .arg(QString::fromUtf8(run.err).trimmed().section(QLatin1Char('\n'), 0, 2)));
    JetReadResult result = ParseJetStream(run.out);
    if (!result.ok)
        return named(result.error);
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0)
        return named(
            QStringLiteral("программа чтения завершилась с кодом %1").arg(WEXITSTATUS(run.status)));
    return result;
}

} // namespace krepiks
