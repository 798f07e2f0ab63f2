#pragma once
// File names for a catalogue's variants: a variant's name where it can be one, else a safe
// form that the index ties to the variant.
#include <QString>
#include <vector>

namespace krepiks::exporting {

struct NamedVariant {
    qlonglong id = 0;
    QString isp;
};

// The file name (without extension) of each variant, in the order given. A name is used as
// it is unless it is empty, "." or "..", starts with a dot, holds '/' or a control character,
// is too long for a file name with its extension, or equals another variant's name when
// case is ignored (of such, the variant with the lowest id keeps the name). The safe form
// is the name with those characters as '_', cut to length, then '~' and the variant's id.
// Computed over the whole catalogue, so that a variant keeps its file name from run to run.
std::vector<QString> FileBases(const std::vector<NamedVariant>& variants);

} // namespace krepiks::exporting
