// A Jet 4.0 (Access) file copied whole into a new catalogue file, table for table.
#include "catalogue/catalogue_check.h"
#include "catalogue/catalogue_copy.h"
#include "catalogue/copy_check.h"
#include "catalogue/copy_rows.h"
#include "catalogue/file_into_place.h"
#include "platform/exception.h"

#include <QFile>
#include <algorithm>

namespace krepiks {

using namespace copying;

namespace {

// The declared type under which the file keeps a Jet column, so that SQLite's affinity
// leaves its values as they are; empty for a type the copy cannot carry exactly.
QString declaredType(const JetColumn& column, bool rowKey) {
    switch (static_cast<JetType>(column.type)) {
    case JetType::Boolean:
        return QStringLiteral("boolean");
    case JetType::Byte:
        return QStringLiteral("tinyint");
    case JetType::Integer:
        return QStringLiteral("smallint");
    case JetType::Long:
        // The auto-number as the row key: new rows take keys after the copied ones.
        return rowKey ? QStringLiteral("integer primary key autoincrement")
                      : QStringLiteral("integer");
    case JetType::Currency:
        return QStringLiteral("currency");
    case JetType::Single:
        return QStringLiteral("float");
    case JetType::Double:
        return QStringLiteral("double");
    case JetType::DateTime:
        return QStringLiteral("datetime"); // text to the millisecond, never a number
    case JetType::Text:
        return QStringLiteral("varchar(%1)").arg(std::max(1, column.size / 2));
    case JetType::Memo:
        return QStringLiteral("text");
    case JetType::ReplicationId:
        return QStringLiteral("char(38)");
    case JetType::Binary:
    case JetType::Ole:
        return QStringLiteral("blob");
    case JetType::Numeric:
        break;
    }
    return {};
}

} // namespace

JetCopyResult CopyJetToFile(const QString& jet, const QString& file, const QString& reader) {
    JetCopyResult result;
    const QString partial = file + QStringLiteral(".partial");
    try {
        if (const QString why = NewFileProblem(file); !why.isEmpty())
            fail(why + QStringLiteral("; ничего не записано"));
        JetReadResult read = ReadJetFile(jet, reader);
        if (!read.ok)
            fail(read.error + QStringLiteral("; ничего не записано"));
        result.notes = read.notes;
        if (read.tables.empty())
            fail(QStringLiteral("в %1 нет ни одной таблицы пользователя; ничего не записано")
                     .arg(jet));
        std::vector<Table> tables;
        std::vector<Rows> rows;
        QStringList schema, copied;
        for (JetTable& jetTable : read.tables) {
            const auto autoNumbers = std::count_if(
                jetTable.columns.begin(), jetTable.columns.end(), [](const JetColumn& c) {
                    return c.autoNumber && c.type == static_cast<int>(JetType::Long);
                });
            Table table{jetTable.name, {}};
            QStringList columns;
            int key = -1;
            for (std::size_t i = 0; i < jetTable.columns.size(); ++i) {
                const JetColumn& column = jetTable.columns[i];
                const bool rowKey = autoNumbers == 1 && column.autoNumber &&
                                    column.type == static_cast<int>(JetType::Long);
                if (rowKey)
                    key = static_cast<int>(i);
                const QString type = declaredType(column, rowKey);
                if (type.isEmpty())
                    fail(QStringLiteral("%1: столбец %2 таблицы «%3» имеет тип (%4), который "
                                        "нельзя перенести точно; ничего не записано")
                             .arg(jet, column.name, jetTable.name)
                             .arg(column.type));
                columns << quotedName(column.name) + QLatin1Char(' ') + type;
                table.columns << column.name;
            }
            if (key >= 0)
                sortByKey(jetTable.rows, static_cast<std::size_t>(key));
            schema << QStringLiteral("create table %1 (%2)")
                          .arg(quotedName(jetTable.name), columns.join(QStringLiteral(", ")));
            copied << QStringLiteral("«%1» (строк: %2)")
                          .arg(jetTable.name, QString::number(jetTable.rows.size()));
            tables.push_back(std::move(table));
            rows.push_back(std::move(jetTable.rows));
        }
        QFile::remove(partial);
        {
            const File target(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            target.exec("begin");
            for (const QString& statement : schema)
                target.exec(statement.toUtf8().constData());
            for (std::size_t t = 0; t < tables.size(); ++t)
                copyIntoFile(target, tables[t], rows[t]);
            target.exec("commit");
            for (std::size_t t = 0; t < tables.size(); ++t)
                if (const QString difference = compare(
                        tables[t], rows[t], readFile(target, tables[t], QStringLiteral("rowid")));
                    !difference.isEmpty())
                    fail(difference + QStringLiteral("; ничего не записано"));
        }
        LinkIntoPlace(partial, file);
        result.written = true;
        result.message =
            QStringLiteral("скопировано в %2: %1").arg(copied.join(QStringLiteral(", ")), file);
        result.problem = CatalogueProblem(file);
        result.krepiksCanOpen = result.problem.isEmpty();
    } catch (const EDatabaseError& error) {
        QFile::remove(partial);
        result.message = QString::fromStdString(error.what());
    }
    return result;
}

} // namespace krepiks
