#pragma once
// Whether Krepiks would open a catalogue file, judged as it judges one at start-up.
#include <QString>

namespace krepiks {

// Why Krepiks would refuse the catalogue file at start-up (a missing table or column, a
// column whose type cannot carry its field), in the words it would use; empty when it opens.
QString CatalogueProblem(const QString& file);

} // namespace krepiks
