#pragma once
// A Jet 4.0 file's user tables, read by libmdb in a child process (krepiks-jet-reader) whose
// time is bounded and whose every warning counts as a failure: libmdb crashes, loops or stops
// early on damaged files, and none of that may reach the program that asked.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace krepiks {

// Access's column types, by their codes in the file.
enum class JetType {
    Boolean = 1,
    Byte = 2,
    Integer = 3,
    Long = 4,
    Currency = 5,
    Single = 6,
    Double = 7,
    DateTime = 8,
    Binary = 9,
    Text = 10,
    Ole = 11,
    Memo = 12,
    ReplicationId = 15,
    Numeric = 16,
};

struct JetColumn {
    QString name;
    int type = 0; // a JetType code, or another the file holds
    int size = 0; // bytes; for text twice the characters
    bool autoNumber = false;
};

// Values as the copy stores them: integers as qlonglong, Single, Double and Currency as
// double (Currency only where the double gives back its exact count of ten-thousandths),
// Date/Time as "yyyy-MM-dd HH:mm:ss.zzz", texts as QString, binary values as QByteArray, and
// NULL as a null QVariant.
struct JetTable {
    QString name;
    quint32 storedRows = 0; // the count its definition keeps, which Access lets go stale
    quint32 liveRows = 0;   // the rows on its data pages not marked deleted
    std::vector<JetColumn> columns;
    std::vector<std::vector<QVariant>> rows;
};

struct JetReadResult {
    bool ok = false;
    QString error; // what is wrong, naming the file
    std::vector<JetTable> tables;
    // What is odd about a whole reading but loses nothing (a stale stored count of rows),
    // each a line of its own.
    QStringList notes;
};

// Reads every user table of file. reader is the krepiks-jet-reader program; timeoutMs bounds
// how long it may stay silent.
JetReadResult ReadJetFile(const QString& file, const QString& reader, int timeoutMs = 30000);

// krepiks-jet-reader: the installed one, or the one beside a program run from its build folder.
QString JetReaderProgram();

// Parses what the reader wrote, decoding each value from its bytes; error (without the file's
// name) says why the stream is not whole and sound.
JetReadResult ParseJetStream(const QByteArray& stream);

// A Jet Date/Time (days since 1899-12-30, the fraction the time of day even before that
// date) as text to the millisecond.
QString JetDateText(double days);

} // namespace krepiks
