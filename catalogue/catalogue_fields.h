#pragma once
// The fields Krepiks needs from its catalogue and the declared column types that can carry
// them: shared by the program's queries and by krepiks-catalogue's check of a copy.
#include <QString>
#include <vector>

namespace krepiks {

// What a declared field holds; a column declared as something else is refused at opening.
enum class FieldKind { Integer, Float, Text };
struct FieldDef {
    QString name;
    FieldKind kind;
};

// The persistent fields of the design window's queries on Размеры and on swApp.
const std::vector<FieldDef>& VariantFields();
const std::vector<FieldDef>& TemplatePathFields();

// Why a file's column declared as declared cannot carry field, in the provider's words;
// empty when it can.
QString FieldTypeMismatch(const FieldDef& field, const QString& declared);

} // namespace krepiks
