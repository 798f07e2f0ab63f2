#include "catalogue/catalogue_check.h"

#include "catalogue/catalogue_fields.h"
#include "catalogue/copy_rows.h"
#include "platform/exception.h"

#include <utility>

namespace krepiks {

using copying::File;

QString CatalogueProblem(const QString& file) {
    try {
        const File db(file, SQLITE_OPEN_READONLY);
        const std::pair<QString, const std::vector<FieldDef>*> tables[] = {
            {QStringLiteral("Размеры"), &VariantFields()},
            {QStringLiteral("swApp"), &TemplatePathFields()}};
        for (const auto& [name, fields] : tables) {
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db.db, "select name, type from pragma_table_info(?)", -1,
                                   &statement, nullptr) != SQLITE_OK)
                db.error(file);
            const QByteArray utf8 = name.toUtf8();
            sqlite3_bind_text(statement, 1, utf8.constData(), static_cast<int>(utf8.size()),
                              SQLITE_TRANSIENT);
            DeclaredColumns columns;
            QStringList names;
            while (sqlite3_step(statement) == SQLITE_ROW)
                columns.emplace_back(QString::fromUtf8(reinterpret_cast<const char*>(
                                         sqlite3_column_text(statement, 0))),
                                     QString::fromUtf8(reinterpret_cast<const char*>(
                                         sqlite3_column_text(statement, 1))));
            sqlite3_finalize(statement);
            if (columns.empty())
                return QStringLiteral("The Microsoft Jet database engine cannot find the input "
                                      "table or query '%1'.  Make sure it exists and that its "
                                      "name is spelled correctly.")
                    .arg(name);
            for (const auto& column : columns)
                names << column.first;
            // The same check, in the same order, as Krepiks makes when it opens the table.
            QString problem = MissingField(names, *fields);
            if (problem.isEmpty())
                problem = DeclaredTypeProblem(columns, *fields);
            if (!problem.isEmpty())
                return name + QStringLiteral(": ") + problem;
        }
    } catch (const EDatabaseError& error) {
        return QString::fromStdString(error.what());
    }
    return {};
}

} // namespace krepiks
