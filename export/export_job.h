#pragma once
// One variant of an export: what it is, the files it should get, and what became of them.
#include "model/bolt.h"

#include <QString>
#include <cmath>
#include <vector>

namespace krepiks::exporting {

enum class FileOutcome : char { Written = 'W', Skipped = 'S', Failed = 'F' };

struct VariantJob {
    qlonglong id = 0;
    QString isp;
    QString base; // the file name without its extension
    TBolt bolt;
    std::vector<int> formats;  // indices into ExportFormats(), as asked for
    std::vector<bool> present; // per format: its file was there when the run began
    bool needVolume = true;    // the index has no volume of this variant yet
    QString refusal;           // why it cannot be built at all (a value that is no number)
};

struct VariantResult {
    std::vector<FileOutcome> files; // per format of the job
    double volume = NAN;            // mm3; NaN when the variant was not built
    QString error;                  // why it failed
};

} // namespace krepiks::exporting
