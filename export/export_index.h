#pragma once
// DIR/index.csv: one row per variant in the folder, which ties each file to its variant
// (id, name, the fourteen dimensions, volume, mass, its files). A run adds and updates its
// own variants' rows and keeps the rows of the others.
#include "export/export_job.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>
#include <vector>

namespace krepiks::exporting {

class ExportIndex {
public:
    // Reads the index in dir, if there is one.
    explicit ExportIndex(const QString& dir);

    QString path() const { return path_; }

    // The volume the index holds for this variant, if its row is of the same name and
    // dimensions.
    std::optional<double> knownVolume(const VariantJob& job) const;

    // The index after this run: its variants (volume, and the reason where one failed) in
    // place of their rows, the other rows as they were, in id order.
    QByteArray text(const std::vector<VariantJob>& jobs,
                    const std::vector<VariantResult>& results) const;

    // Writes text as the index unless it holds that already; the new index takes the old
    // one's place in one step. False, with error, when it could not be written.
    bool write(const QByteArray& text, bool* changed, QString* error) const;

private:
    QString dir_;
    QString path_;
    QByteArray old_;
    std::map<qlonglong, std::vector<QString>> rows_; // by id, when the header is this one's
};

// The density the index's mass is computed with: steel, 7.85 g/cm3, in kg/mm3.
inline constexpr double SteelKgPerMm3 = 7.85e-6;

} // namespace krepiks::exporting
