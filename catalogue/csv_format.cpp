#include "catalogue/csv_format.h"

#include <QStringDecoder>
#include <charconv>

namespace krepiks::csv {

QByteArray Field(const QString& text, bool quoted) {
    QByteArray bytes = text.toUtf8();
    const bool blanksAtEnds = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    if (!quoted && !blanksAtEnds && !bytes.contains(',') && !bytes.contains(';') &&
        !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

QByteArray Number(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, static_cast<qsizetype>(result.ptr - text));
}

QByteArray Record(const std::vector<QByteArray>& fields) {
    QByteArray record;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            record += ',';
        record += fields[i];
    }
    return record + "\r\n";
}

QString ColumnLetters(int column) {
    QString letters;
    for (; column > 0; column = (column - 1) / 26)
        letters.prepend(QChar(u'A' + (column - 1) % 26));
    return letters;
}

namespace {

// The first line whose bytes are not UTF-8, or 0.
int lineNotUtf8(const QByteArray& bytes) {
    int line = 1;
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(bytes.mid(start, end - start));
        (void)text;
        if (decoder.hasError())
            return line;
        start = end + 1;
        ++line;
    }
    return 0;
}

QChar separatorOf(const QString& text) {
    int commas = 0, semicolons = 0;
    bool inQuotes = false;
    for (const QChar c : text) {
        if (c == u'"')
            inQuotes = !inQuotes;
        else if (!inQuotes && (c == u'\n' || c == u'\r'))
            break;
        else if (!inQuotes && c == u',')
            ++commas;
        else if (!inQuotes && c == u';')
            ++semicolons;
    }
    return semicolons > commas ? QLatin1Char(';') : QLatin1Char(',');
}

} // namespace

bool Parse(const QByteArray& bytes, Table* table, Error* error) {
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    if (const int line = lineNotUtf8(body)) {
        *error = {line, 0,
                  QStringLiteral("текст не в кодировке UTF-8 (сохраните лист как «CSV UTF-8» "
                                 "или выберите кодировку UTF-8)")};
        return false;
    }
    const QString text = QString::fromUtf8(body);
    table->separator = separatorOf(text);
    table->records.clear();

    const QChar separator = table->separator;
    int line = 1;
    qsizetype i = 0;
    const qsizetype n = text.size();
    std::vector<Cell> record;
    const auto endRecord = [&] {
        // A line with nothing on it is no record.
        if (!(record.size() == 1 && record[0].text.isEmpty() && !record[0].quoted))
            table->records.push_back(std::move(record));
        record.clear();
    };
    while (i < n) {
        Cell cell;
        cell.line = line;
        const int column = static_cast<int>(record.size()) + 1;
        if (text[i] == u'"') {
            cell.quoted = true;
            ++i;
            for (;;) {
                if (i >= n) {
                    *error = {cell.line, column, QStringLiteral("поле в кавычках не закрыто")};
                    return false;
                }
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        cell.text += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (text[i] == u'\n')
                    ++line;
                else if (text[i] == u'\r' && !(i + 1 < n && text[i + 1] == u'\n'))
                    ++line;
                cell.text += text[i++];
            }
            if (i < n && text[i] != separator && text[i] != u'\r' && text[i] != u'\n') {
                *error = {line, column,
                          QStringLiteral("после закрывающей кавычки поля идёт текст")};
                return false;
            }
        } else {
            while (i < n && text[i] != separator && text[i] != u'\r' && text[i] != u'\n') {
                if (text[i] == u'"') {
                    *error = {line, column,
                              QStringLiteral("кавычка внутри поля, которое не "
                                             "начинается с кавычки")};
                    return false;
                }
                cell.text += text[i++];
            }
        }
        record.push_back(std::move(cell));
        if (i < n && text[i] == separator) {
            ++i;
            if (i == n)
                record.push_back(Cell{QString(), false, line});
            continue;
        }
        if (i < n && text[i] == u'\r')
            ++i;
        if (i < n && text[i] == u'\n')
            ++i;
        ++line;
        endRecord();
    }
    if (!record.empty())
        endRecord();
    return true;
}

} // namespace krepiks::csv
