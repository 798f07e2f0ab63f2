#pragma once
// The fields Krepiks needs from its catalogue and the declared column types that can carry
// them: shared by the program's queries and by krepiks-catalogue's check of a copy.
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace krepiks {

// What a declared field holds; a column declared as something else is refused at opening.
enum class FieldKind { Integer, Float, Text };
struct FieldDef {
    QString name;
    FieldKind kind;
};

// The longest variant name and template path the columns hold (varchar(150), varchar(250)).
inline constexpr int MaxVariantNameLength = 150;
inline constexpr int MaxTemplatePathLength = 250;

// The persistent fields of the design window's queries on Размеры and on swApp.
const std::vector<FieldDef>& VariantFields();
const std::vector<FieldDef>& TemplatePathFields();

// A table's columns as the catalogue declares them: name and declared type.
using DeclaredColumns = std::vector<std::pair<QString, QString>>;

// The check a table gets when it is opened, in the provider's words; empty when it passes.
// First: a field that no column of that name has.
QString MissingField(const QStringList& columnNames, const std::vector<FieldDef>& fields);
// Then: the first column declared as a type that cannot carry its field.
QString DeclaredTypeProblem(const DeclaredColumns& columns, const std::vector<FieldDef>& fields);

} // namespace krepiks
