#include "catalogue/sqlite_engine.h"

#include "platform/exception.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <memory>
#include <sqlite3.h>

namespace krepiks {

namespace {

[[noreturn]] void fail(const QString& message) {
    throw EDatabaseError(message.toStdString());
}

} // namespace

// Provider-style texts, so that reports read as they would on the original platform.
QString ProviderErrorText(const QSqlError& error, const QString& filePath) {
    const QString native = error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    // SQLITE_BUSY, SQLITE_LOCKED: another process held the file past the busy timeout.
    if (native == QLatin1String("5") || native == QLatin1String("6") ||
        text.contains(QLatin1String("database is locked")) ||
        text.contains(QLatin1String("database table is locked")))
        return QStringLiteral("Could not update; currently locked.");
    if (native == QLatin1String("26") || native == QLatin1String("11") ||
        text.contains(QLatin1String("file is not a database")) ||
        text.contains(QLatin1String("malformed")))
        return QStringLiteral("Unrecognized database format '%1'.").arg(filePath);
    static const QRegularExpression noTable(QStringLiteral("no such table: (\\S+)"));
    const auto match = noTable.match(text);
    if (match.hasMatch())
        return QStringLiteral("The Microsoft Jet database engine cannot find the input table or "
                              "query '%1'.  Make sure it exists and that its name is spelled "
                              "correctly.")
            .arg(match.captured(1));
    return text;
}

namespace sqlite {

namespace {

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

[[noreturn]] void failEngine(sqlite3* handle, int code, const QString& filePath) {
    const QSqlError error(QString(), QString::fromUtf8(sqlite3_errmsg(handle)),
                          QSqlError::StatementError, QString::number(code));
    fail(ProviderErrorText(error, filePath));
}

void bind(sqlite3* handle, sqlite3_stmt* statement, int index, const QVariant& value,
          const QString& filePath) {
    int code = SQLITE_OK;
    if (value.isNull()) {
        code = sqlite3_bind_null(statement, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            code = sqlite3_bind_int64(statement, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            code = sqlite3_bind_double(statement, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            code = sqlite3_bind_blob64(statement, index, bytes.constData(),
                                       static_cast<sqlite3_uint64>(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            code = sqlite3_bind_text64(statement, index, text.constData(),
                                       static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
            break;
        }
        }
    }
    if (code != SQLITE_OK)
        failEngine(handle, code, filePath);
}

} // namespace

sqlite3* Handle(const QSqlDatabase& db) {
    const QVariant driverHandle = db.driver() ? db.driver()->handle() : QVariant();
    return driverHandle.isValid() && qstrcmp(driverHandle.typeName(), "sqlite3*") == 0
               ? *static_cast<sqlite3* const*>(driverHandle.constData())
               : nullptr;
}

void ReadSnapshot(sqlite3* handle, const QString& text, const QVariantList& parameters,
                  const QString& filePath, QSqlRecord& columns, std::vector<QVariant>& cells) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int prepared =
        sqlite3_prepare_v2(handle, utf8.constData(), static_cast<int>(utf8.size()), &raw, &tail);
    Statement statement(raw, &sqlite3_finalize);
    if (prepared != SQLITE_OK)
        failEngine(handle, prepared, filePath);
    if (!statement)
        fail(QStringLiteral("Command text was not set for the command object."));
    if (!QByteArray(tail, utf8.constData() + utf8.size() - tail).trimmed().isEmpty())
        fail(QStringLiteral("Unable to execute multiple statements at a time"));
    if (sqlite3_bind_parameter_count(statement.get()) != parameters.size())
        fail(QStringLiteral("Parameter count mismatch"));
    for (int i = 0; i < parameters.size(); ++i)
        bind(handle, statement.get(), i + 1, parameters.at(i), filePath);

    const int n = sqlite3_column_count(statement.get());
    columns.clear();
    for (int i = 0; i < n; ++i)
        columns.append(QSqlField(QString::fromUtf8(sqlite3_column_name(statement.get(), i))));
    for (;;) {
        const int step = sqlite3_step(statement.get());
        if (step == SQLITE_DONE)
            break;
        // A row that cannot be read fails the opening: a cut-short list is no snapshot.
        if (step != SQLITE_ROW)
            failEngine(handle, step, filePath);
        sqlite3_stmt* s = statement.get();
        for (int i = 0; i < n; ++i) {
            switch (sqlite3_column_type(s, i)) {
            case SQLITE_INTEGER:
                cells.emplace_back(static_cast<qlonglong>(sqlite3_column_int64(s, i)));
                break;
            case SQLITE_FLOAT:
                cells.emplace_back(sqlite3_column_double(s, i));
                break;
            case SQLITE_TEXT:
                cells.emplace_back(
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, i)),
                                      sqlite3_column_bytes(s, i)));
                break;
            case SQLITE_BLOB:
                cells.emplace_back(QByteArray(static_cast<const char*>(sqlite3_column_blob(s, i)),
                                              sqlite3_column_bytes(s, i)));
                break;
            default:
                cells.emplace_back(QMetaType::fromType<QString>());
                break;
            }
        }
    }
}

} // namespace sqlite

} // namespace krepiks
