#pragma once
// Reading a catalogue file straight through SQLite, beside the program's own connection.
#include <QString>
#include <map>
#include <optional>
#include <vector>

namespace krepiks::test {

// The dimension columns of each row of Размеры, by its d0: d0 d1 d2 D R K L L2 L3 a b c S e.
std::multimap<double, std::vector<double>> RowsByD0(const QString& file);
// The same, read from a catalogue server through libpq's connection string conninfo.
std::multimap<double, std::vector<double>> ServerRowsByD0(const QString& conninfo);

// The row stored for VariantValues::ForKey(key) holds every typed value, the values derived
// from them and the default angles, and it is the only row with its d0.
void ExpectStoredVariant(const std::multimap<double, std::vector<double>>& rows, int key);

// The result of "pragma integrity_check"; empty when the file cannot be opened.
QString IntegrityCheck(const QString& file);

// The file's bytes, or nothing when it cannot be read.
std::optional<QByteArray> FileBytes(const QString& path);

} // namespace krepiks::test
