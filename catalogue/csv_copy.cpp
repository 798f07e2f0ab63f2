#include "catalogue/csv_copy.h"

#include "catalogue/catalogue_fields.h"
#include "catalogue/csv_format.h"
#include "design/dimension_rules.h"
#include "platform/exception.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <limits>
#include <set>

namespace krepiks {

namespace {

struct BadCell {
    csv::Error where;
};

[[noreturn]] void refuse(int line, int column, const QString& message) {
    throw BadCell{{line, column, message}};
}

const FieldDef* fieldNamed(const QString& name) {
    for (const FieldDef& field : VariantFields())
        if (field.name.compare(name, Qt::CaseInsensitive) == 0)
            return &field;
    return nullptr;
}

// The header's column for each of the catalogue's columns in their order; -1 for a key the
// file does not give, which the rows then take in their order.
std::vector<int> headerColumns(const std::vector<csv::Cell>& header) {
    QStringList names;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const QString name = header[i].text.trimmed();
        const int column = static_cast<int>(i) + 1;
        if (!fieldNamed(name))
            refuse(1, column,
                   QStringLiteral("столбца «%1» нет в каталоге (в нём: %2)")
                       .arg(name, VariantColumns().join(QStringLiteral(", "))));
        if (names.contains(name, Qt::CaseInsensitive))
            refuse(1, column, QStringLiteral("столбец «%1» указан дважды").arg(name));
        names << name;
    }
    // The same test as the catalogue gets when it is opened; the key may be left out.
    for (auto field = VariantFields().begin() + 1; field != VariantFields().end(); ++field)
        if (!names.contains(field->name, Qt::CaseInsensitive))
            refuse(1, 0, QStringLiteral("в заголовке нет столбца «%1»").arg(field->name));
    std::vector<int> columns;
    for (const QString& wanted : VariantColumns()) {
        int found = -1;
        for (int i = 0; i < names.size(); ++i)
            if (names[i].compare(wanted, Qt::CaseInsensitive) == 0)
                found = i;
        columns.push_back(found);
    }
    return columns;
}

QVariant cellValue(const csv::Cell& cell, int column, const FieldDef& field,
                   const QString& decimalPoint, std::set<qlonglong>& keys) {
    const auto bad = [&](const QString& why) {
        refuse(cell.line, column, QStringLiteral("«%1»: %2").arg(cell.text, why));
    };
    switch (field.kind) {
    case FieldKind::Integer: {
        bool ok = false;
        const qlonglong key = cell.text.trimmed().toLongLong(&ok);
        if (!ok || key <= 0 || key > std::numeric_limits<qint32>::max())
            bad(QStringLiteral("ключ должен быть целым числом от 1 до 2147483647"));
        if (!keys.insert(key).second)
            bad(QStringLiteral("тот же ключ уже есть в строке выше"));
        return key;
    }
    case FieldKind::Text:
        if (cell.text.isEmpty() && !cell.quoted)
            return {};
        if (cell.text.size() > MaxVariantNameLength)
            bad(QStringLiteral("имя длиннее %1 знаков").arg(MaxVariantNameLength));
        return cell.text;
    case FieldKind::Float:
        break;
    }
    // As the design window takes a typed dimension, and as strictly: what it warns of is
    // refused here.
    const std::optional<double> number = ParseDimension(cell.text, decimalPoint);
    if (!number)
        bad(NotANumberMessage());
    if (const QString problem = DimensionProblem(*number); !problem.isEmpty())
        bad(problem);
    return *number;
}

QString where(const QString& csv, const csv::Error& error) {
    QString place = QStringLiteral("%1, строка %2").arg(csv).arg(error.line);
    if (error.column > 0)
        place += QStringLiteral(", столбец %1 (%2)")
                     .arg(error.column)
                     .arg(csv::ColumnLetters(error.column));
    return place;
}

} // namespace

CopyResult WriteVariantsCsv(const CatalogueRows& tables, const QString& csv) {
    QByteArray text = csv::Record([] {
        std::vector<QByteArray> names;
        for (const QString& name : VariantColumns())
            names.push_back(csv::Field(name));
        return names;
    }());
    for (const auto& row : tables.variants) {
        std::vector<QByteArray> fields;
        for (const QVariant& value : row) {
            if (value.isNull())
                fields.emplace_back();
            else if (value.typeId() == QMetaType::Double)
                fields.push_back(csv::Number(value.toDouble()));
            else if (value.typeId() == QMetaType::LongLong)
                fields.push_back(QByteArray::number(value.toLongLong()));
            else // in quotes when empty, so that it reads back as a text and not as NULL
                fields.push_back(csv::Field(value.toString(), value.toString().isEmpty()));
        }
        text += csv::Record(fields);
    }
    QTemporaryFile partial(csv + QStringLiteral(".XXXXXX.partial"));
    try {
        if (QFileInfo::exists(csv))
            throw EDatabaseError(
                QStringLiteral("%1 уже существует; ничего не записано").arg(csv).toStdString());
        if (!partial.open() || partial.write(text) != text.size() || !partial.flush())
            throw EDatabaseError(QStringLiteral("%1 не удаётся записать: %2; ничего не записано")
                                     .arg(csv, partial.errorString())
                                     .toStdString());
        LinkIntoPlace(partial.fileName(), csv);
    } catch (const EDatabaseError& error) {
        return {false, QString::fromStdString(error.what())};
    }
    return {true, QStringLiteral("в %1 записаны строки таблицы «Размеры»: %2")
                      .arg(csv, QString::number(tables.variants.size()))};
}

CopyResult CsvToCatalogue(const QString& csv, const QString& file, const QString& templatePath) {
    if (QFileInfo::exists(file))
        return {false, QStringLiteral("%1 уже существует; ничего не записано").arg(file)};
    QFile source(csv);
    if (!source.open(QIODevice::ReadOnly))
        return {false, QStringLiteral("%1 не читается: %2; ничего не записано")
                           .arg(csv, source.errorString())};
    if (templatePath.size() > MaxTemplatePathLength)
        return {false, QStringLiteral("путь к шаблону длиннее %1 знаков; ничего не "
                                      "записано")
                           .arg(MaxTemplatePathLength)};
    csv::Table table;
    csv::Error error;
    CatalogueRows tables;
    try {
        if (!csv::Parse(source.readAll(), &table, &error))
            throw BadCell{error};
        if (table.records.empty())
            refuse(1, 0, QStringLiteral("в файле нет заголовка с именами столбцов"));
        const std::vector<int> columns = headerColumns(table.records[0]);
        // Spreadsheets in a locale with the decimal comma separate their fields by ';'.
        const QString decimalPoint =
            table.separator == u';' ? QStringLiteral(",") : QStringLiteral(".");
        const int width = static_cast<int>(table.records[0].size());
        std::set<qlonglong> keys;
        qlonglong nextKey = 1;
        for (std::size_t r = 1; r < table.records.size(); ++r) {
            const auto& record = table.records[r];
            if (static_cast<int>(record.size()) != width)
                refuse(record[0].line, 0,
                       QStringLiteral("в строке полей: %1, а в заголовке: %2")
                           .arg(record.size())
                           .arg(width));
            std::vector<QVariant> row;
            for (std::size_t c = 0; c < columns.size(); ++c) {
                if (columns[c] < 0) {
                    row.emplace_back(nextKey++);
                    continue;
                }
                row.push_back(cellValue(record[columns[c]], columns[c] + 1,
                                        *fieldNamed(VariantColumns()[c]), decimalPoint, keys));
            }
            tables.variants.push_back(std::move(row));
        }
    } catch (const BadCell& bad) {
        return {false, QStringLiteral("%1: %2; ничего не записано")
                           .arg(where(csv, bad.where), bad.where.message)};
    }
    if (!templatePath.isEmpty())
        tables.templatePaths.push_back({qlonglong(1), templatePath});
    return WriteCatalogueFile(file, tables);
}

} // namespace krepiks
