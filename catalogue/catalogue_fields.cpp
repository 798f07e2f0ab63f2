#include "catalogue/catalogue_fields.h"

namespace krepiks {

namespace {

// SQLite's column affinity of a declared type, by its own rules (first match wins).
enum class Affinity { Integer, Text, None, Real, Numeric };

Affinity affinityOf(const QString& declared) {
    const QString type = declared.toUpper();
    if (type.contains(QLatin1String("INT")))
        return Affinity::Integer;
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("CLOB")) ||
        type.contains(QLatin1String("TEXT")))
        return Affinity::Text;
    if (type.trimmed().isEmpty() || type.contains(QLatin1String("BLOB")))
        return Affinity::None;
    if (type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("FLOA")) ||
        type.contains(QLatin1String("DOUB")))
        return Affinity::Real;
    return Affinity::Numeric;
}

// A column without a declared type takes any value; a declared blob holds no number or name.
bool carries(FieldKind kind, Affinity affinity, const QString& declared) {
    if (affinity == Affinity::None)
        return declared.trimmed().isEmpty();
    switch (kind) {
    case FieldKind::Integer:
        return affinity == Affinity::Integer || affinity == Affinity::Numeric;
    case FieldKind::Float:
        return affinity != Affinity::Text;
    case FieldKind::Text:
        return affinity == Affinity::Text;
    }
    return false;
}

QString kindName(FieldKind kind) {
    switch (kind) {
    case FieldKind::Integer:
        return QStringLiteral("AutoInc");
    case FieldKind::Float:
        return QStringLiteral("Float");
    case FieldKind::Text:
        return QStringLiteral("WideString");
    }
    return {};
}

QString affinityName(Affinity affinity) {
    switch (affinity) {
    case Affinity::Integer:
        return QStringLiteral("Integer");
    case Affinity::Text:
        return QStringLiteral("WideString");
    case Affinity::None:
        return QStringLiteral("Blob");
    case Affinity::Real:
        return QStringLiteral("Float");
    case Affinity::Numeric:
        return QStringLiteral("BCD");
    }
    return {};
}

} // namespace

const std::vector<FieldDef>& VariantFields() {
    static const std::vector<FieldDef> fields = [] {
        std::vector<FieldDef> list = {{QStringLiteral("id"), FieldKind::Integer},
                                      {QStringLiteral("isp"), FieldKind::Text}};
        for (const char* name :
             {"d0", "d1", "d2", "D", "R", "K", "L", "L2", "L3", "a", "b", "c", "S", "e"})
            list.push_back({QString::fromLatin1(name), FieldKind::Float});
        return list;
    }();
    return fields;
}

const std::vector<FieldDef>& TemplatePathFields() {
    static const std::vector<FieldDef> fields = {
        {QStringLiteral("id_swApp"), FieldKind::Integer},
        {QStringLiteral("path_templete_detal"), FieldKind::Text}};
    return fields;
}

QString MissingField(const QStringList& columnNames, const std::vector<FieldDef>& fields) {
    for (const FieldDef& field : fields)
        if (!columnNames.contains(field.name, Qt::CaseInsensitive))
            return QStringLiteral("Field '%1' not found").arg(field.name);
    return {};
}

QString DeclaredTypeProblem(const DeclaredColumns& columns, const std::vector<FieldDef>& fields) {
    for (const auto& [column, declared] : columns) {
        for (const FieldDef& field : fields) {
            if (field.name.compare(column, Qt::CaseInsensitive) != 0)
                continue;
            const Affinity affinity = affinityOf(declared);
            if (!carries(field.kind, affinity, declared))
                return QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                    .arg(field.name, kindName(field.kind), affinityName(affinity));
        }
    }
    return {};
}

} // namespace krepiks
