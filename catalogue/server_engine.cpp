#include "catalogue/server_engine.h"

#include "platform/exception.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QtEndian>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace krepiks::server {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

// Type numbers of the built-in types (pg_type.oid), fixed across server versions.
enum : Oid {
    BoolOid = 16,
    ByteaOid = 17,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    NumericOid = 1700,
};

// '?' outside quotes becomes $1, $2, ...: the statements are written for the file's engine.
QByteArray numberedPlaceholders(const QString& statement, int& count) {
    QByteArray out;
    const QByteArray in = statement.toUtf8();
    out.reserve(in.size() + 8);
    char quote = 0;
    count = 0;
    for (const char ch : in) {
        if (quote) {
            if (ch == quote)
                quote = 0;
            out.append(ch);
        } else if (ch == '\'' || ch == '"') {
            quote = ch;
            out.append(ch);
        } else if (ch == '?') {
            out.append('$').append(QByteArray::number(++count));
        } else {
            out.append(ch);
        }
    }
    return out;
}

QByteArray valueText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? "t" : "f";
    case QMetaType::Double:
    case QMetaType::Float:
        return DoubleText(value.toDouble());
    default:
        return value.toString().toUtf8();
    }
}

QString resultField(const PGresult* result, int field) {
    const char* text = result ? PQresultErrorField(result, field) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

quint64 bigEndian(const char* bytes, int length) {
    if (length == 8) {
        quint64 value;
        std::memcpy(&value, bytes, 8);
        return qFromBigEndian(value);
    }
    quint64 value = 0;
    for (int i = 0; i < length; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// numeric's wire form: digit count, weight, sign, scale, then base-10000 digits.
double numericValue(const char* bytes, int length) {
    if (length < 8)
        return std::nan("");
    const int digits = static_cast<int>(bigEndian(bytes, 2));
    const int weight = static_cast<qint16>(bigEndian(bytes + 2, 2));
    const unsigned sign = static_cast<unsigned>(bigEndian(bytes + 4, 2));
    if (sign == 0xC000)
        return std::nan("");
    if (sign == 0xD000)
        return HUGE_VAL;
    if (sign == 0xF000)
        return -HUGE_VAL;
    // Through the decimal text, so that the value rounds as the text form would.
    QByteArray text = sign == 0x4000 ? "-0." : "0.";
    for (int i = 0; i < digits && 8 + 2 * i + 1 < length; ++i)
        text += QByteArray::number(static_cast<int>(bigEndian(bytes + 8 + 2 * i, 2)))
                    .rightJustified(4, '0');
    text += "e" + QByteArray::number(4 * (weight + 1));
    return std::strtod(text.constData(), nullptr);
}

QVariant binaryValue(Oid type, const char* bytes, int length) {
    switch (type) {
    case Int2Oid:
        return static_cast<qlonglong>(static_cast<qint16>(bigEndian(bytes, 2)));
    case Int4Oid:
        return static_cast<qlonglong>(static_cast<qint32>(bigEndian(bytes, 4)));
    case OidOid:
        return static_cast<qlonglong>(static_cast<quint32>(bigEndian(bytes, 4)));
    case Int8Oid:
        return static_cast<qlonglong>(bigEndian(bytes, 8));
    case BoolOid:
        return static_cast<qlonglong>(length > 0 && bytes[0] ? 1 : 0);
    case Float4Oid: {
        const quint32 bits = static_cast<quint32>(bigEndian(bytes, 4));
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return static_cast<double>(value);
    }
    case Float8Oid: {
        const quint64 bits = bigEndian(bytes, 8);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    case NumericOid:
        return numericValue(bytes, length);
    case ByteaOid:
        return QByteArray(bytes, length);
    default:
        // Text types travel as their UTF-8; any other type is only carried along.
        return QString::fromUtf8(bytes, length);
    }
}

} // namespace

QByteArray DoubleText(double number) {
    if (std::isnan(number))
        return "NaN";
    if (std::isinf(number))
        return number < 0 ? "-Infinity" : "Infinity";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", number); // every bit, read back exactly
    return text;
}

PGconn* Handle(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // The driver hands it over under libpq's struct name.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

bool Lost(PGconn* connection) {
    return !connection || PQstatus(connection) == CONNECTION_BAD;
}

QString FoldedIdentifier(const QString& identifier) {
    if (identifier.startsWith(QLatin1Char('"')) && identifier.endsWith(QLatin1Char('"')) &&
        identifier.size() >= 2)
        return identifier.mid(1, identifier.size() - 2)
            .replace(QLatin1String("\"\""), QLatin1String("\""));
    QString folded = identifier;
    for (QChar& ch : folded)
        if (ch >= QLatin1Char('A') && ch <= QLatin1Char('Z'))
            ch = QChar(ch.unicode() + ('a' - 'A'));
    return folded;
}

QString ErrorText(PGconn* connection, const PGresult* result) {
    const QString state = resultField(result, PG_DIAG_SQLSTATE);
    QString primary = resultField(result, PG_DIAG_MESSAGE_PRIMARY);
    if (primary.isEmpty())
        primary = QString::fromUtf8(connection ? PQerrorMessage(connection) : "").trimmed();
    if (state == QLatin1String("55P03") || state == QLatin1String("40P01") ||
        state == QLatin1String("40001"))
        return QStringLiteral("Could not update; currently locked.");
    if (state == QLatin1String("23505"))
        return QStringLiteral(
            "The changes you requested to the table were not successful because they would "
            "create duplicate values in the index, primary key, or relationship.  Change the "
            "data in the field or fields that contain duplicate data, remove the index, or "
            "redefine the index to permit duplicate entries and try again.");
    if (state == QLatin1String("42P01")) {
        // relation "X" does not exist
        const int open = primary.indexOf(QLatin1Char('"'));
        const int close = primary.lastIndexOf(QLatin1Char('"'));
        const QString table =
            open >= 0 && close > open ? primary.mid(open + 1, close - open - 1) : primary;
        return QStringLiteral("The Microsoft Jet database engine cannot find the input table or "
                              "query '%1'.  Make sure it exists and that its name is spelled "
                              "correctly.")
            .arg(table);
    }
    return primary.isEmpty() ? QStringLiteral("The connection to the catalogue server was lost.")
                             : primary;
}

Result Exec(PGconn* connection, const QString& statement, const QVariantList& values, bool binary) {
    if (Lost(connection))
        fail(ErrorText(connection, nullptr));
    int count = 0;
    const QByteArray text = numberedPlaceholders(statement, count);
    if (count != values.size())
        fail(QStringLiteral("Parameter count mismatch"));
    std::vector<QByteArray> held;
    std::vector<const char*> pointers;
    held.reserve(values.size());
    for (const QVariant& value : values) {
        if (value.isNull()) {
            pointers.push_back(nullptr);
        } else {
            held.push_back(valueText(value));
            pointers.push_back(held.back().constData());
        }
    }
    Result result(PQexecParams(connection, text.constData(), count, nullptr, pointers.data(),
                               nullptr, nullptr, binary ? 1 : 0),
                  &PQclear);
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        fail(ErrorText(connection, result.get()));
    return result;
}

QVariant CellValue(const PGresult* result, int row, int column) {
    if (PQgetisnull(result, row, column))
        return QVariant(QMetaType::fromType<QString>());
    if (PQfformat(result, column) == 1)
        return binaryValue(PQftype(result, column), PQgetvalue(result, row, column),
                           PQgetlength(result, row, column));
    const char* text = PQgetvalue(result, row, column);
    switch (PQftype(result, column)) {
    case Int2Oid:
    case Int4Oid:
    case Int8Oid:
    case OidOid:
        return static_cast<qlonglong>(std::strtoll(text, nullptr, 10));
    case BoolOid:
        return static_cast<qlonglong>(text[0] == 't' ? 1 : 0);
    case Float4Oid:
    case Float8Oid:
    case NumericOid:
        // The server spells them "NaN", "Infinity" and "-Infinity", which strtod reads.
        return std::strtod(text, nullptr);
    case ByteaOid: {
        size_t length = 0;
        unsigned char* bytes =
            PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &length);
        QByteArray value(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(length));
        PQfreemem(bytes);
        return value;
    }
    default:
        return QString::fromUtf8(text, PQgetlength(result, row, column));
    }
}

void ReadSnapshot(PGconn* connection, const QString& statement, const QVariantList& values,
                  QSqlRecord& columns, std::vector<QVariant>& cells) {
    const Result result = Exec(connection, statement, values, true);
    const int n = PQnfields(result.get());
    const int rows = PQntuples(result.get());
    columns.clear();
    for (int i = 0; i < n; ++i)
        columns.append(QSqlField(QString::fromUtf8(PQfname(result.get(), i))));
    std::vector<Oid> types(n);
    for (int i = 0; i < n; ++i)
        types[i] = PQftype(result.get(), i);
    cells.reserve(cells.size() + static_cast<std::size_t>(rows) * n);
    const PGresult* const r = result.get();
    // The catalogue's own columns, decoded in place: a refill reads a million of them.
    for (int row = 0; row < rows; ++row)
        for (int i = 0; i < n; ++i) {
            if (PQgetisnull(r, row, i)) {
                cells.emplace_back(QMetaType::fromType<QString>());
                continue;
            }
            const char* bytes = PQgetvalue(r, row, i);
            switch (types[i]) {
            case Float8Oid: {
                const quint64 bits = bigEndian(bytes, 8);
                double value;
                std::memcpy(&value, &bits, sizeof value);
                cells.emplace_back(value);
                break;
            }
            case Int4Oid:
                cells.emplace_back(
                    static_cast<qlonglong>(static_cast<qint32>(bigEndian(bytes, 4))));
                break;
            default:
                cells.push_back(binaryValue(types[i], bytes, PQgetlength(r, row, i)));
            }
        }
}

std::vector<std::pair<QString, QString>> DeclaredTypes(PGconn* connection, const QString& table) {
    // The catalog itself: information_schema's view costs more than the statement it checks.
    const Result result =
        Exec(connection,
             QStringLiteral("select attname, format_type(atttypid, atttypmod) from pg_attribute "
                            "where attrelid = to_regclass(?) and attnum > 0 and not attisdropped"),
             {table});
    std::vector<std::pair<QString, QString>> types;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        QString type = QString::fromUtf8(PQgetvalue(result.get(), r, 1));
        if (type == QLatin1String("bytea"))
            type = QStringLiteral("blob");
        types.emplace_back(QString::fromUtf8(PQgetvalue(result.get(), r, 0)), type);
    }
    return types;
}

QString PrimaryKey(PGconn* connection, const QString& table) {
    const Result result =
        Exec(connection,
             QStringLiteral("select a.attname from pg_index i join pg_attribute a "
                            "on a.attrelid = i.indrelid and a.attnum = any(i.indkey) "
                            "where i.indisprimary and i.indrelid = to_regclass(?)"),
             {table});
    return PQntuples(result.get()) == 1 ? QString::fromUtf8(PQgetvalue(result.get(), 0, 0))
                                        : QString();
}

} // namespace krepiks::server
