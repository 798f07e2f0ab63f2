#pragma once
// One variant of the catalogue Krepiks would open here (the office's server when the
// "krepiks" connection service is defined, else bolti.mdb in the current folder), read as
// the design window loads a chosen variant, with the catalogue's part template.
#include "model/bolt.h"

#include <QString>

namespace krepiks {

struct VariantLookup {
    bool found = false;
    TBolt bolt;    // the first row of that name, its template path beside it
    QString error; // why nothing was read; empty with found false: no such variant
};

VariantLookup LookUpVariant(const QString& isp);

} // namespace krepiks
