#pragma once
// CSV as RFC 4180 writes it and as spreadsheets write it: fields quoted where they must be,
// records ended by CRLF; read back with ',' or ';' between fields, an optional UTF-8
// byte-order mark, and the line and column of every cell kept for messages.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace krepiks::csv {

// A field as it is written: in quotes when it holds the separator, a quote, a line break or
// blanks at either end, or when quoted is asked for (an empty text that is not NULL).
QByteArray Field(const QString& text, bool quoted = false);

// The shortest text that reads back to the same double, with '.' as the decimal point.
QByteArray Number(double value);

// One record: fields joined by ',' and ended by CRLF.
QByteArray Record(const std::vector<QByteArray>& fields);

struct Cell {
    QString text;
    bool quoted = false; // it stood in quotes, so an empty text is a text, not nothing
    int line = 0;        // the line of the file where it starts, from 1
};

struct Table {
    QChar separator = QLatin1Char(',');
    std::vector<std::vector<Cell>> records; // blank lines left out
};

struct Error {
    int line = 0;
    int column = 0; // from 1; 0 when the fault is not in one cell
    QString message;
};

// Reads bytes as UTF-8 (a byte-order mark is skipped). The separator is the one of ',' and
// ';' that the first line holds more of outside quotes. False, with error filled in, for
// bytes that are not UTF-8 and for a quote out of place or left open.
bool Parse(const QByteArray& bytes, Table* table, Error* error);

// A spreadsheet's name of the column numbered from 1: A … Z, AA …
QString ColumnLetters(int column);

} // namespace krepiks::csv
