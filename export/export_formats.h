#pragma once
// The formats an export writes, one writer per format. A writer gets the variant built in
// this process and the path to write; the run gives the file its name afterwards. The
// drawing formats need a QGuiApplication (the drafting font and Qt's painters).
#include "cad/part_document.h"
#include "model/bolt.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krepiks::drawing {
struct BoltDrawing;
}

namespace krepiks::exporting {

struct BuiltVariant {
    TBolt bolt; // the record as the build took it
    std::shared_ptr<cad::PartDocument> document;
    // Made by the first drawing format asked for, for the others to share.
    mutable std::shared_ptr<const drawing::BoltDrawing> drawing;
};

using FormatWriter =
    std::function<bool(const BuiltVariant& built, const std::string& path, std::string* error)>;

struct ExportFormat {
    QString name; // as --formats names it, and the files' extension
    FormatWriter write;
};

// step, stl, pdf, svg, dxf, in the order of the index's columns.
const std::vector<ExportFormat>& ExportFormats();

// The index into ExportFormats() of the format named name, or -1.
int FindFormat(const QString& name);

// What an export writes when --formats is not given.
QStringList DefaultFormats();

} // namespace krepiks::exporting
