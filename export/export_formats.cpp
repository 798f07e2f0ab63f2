#include "export/export_formats.h"

namespace krepiks::exporting {

namespace {

bool writeStep(const BuiltVariant& built, const std::string& path, std::string* error) {
    return built.document->saveStep(path, error);
}

bool writeStl(const BuiltVariant& built, const std::string& path, std::string* error) {
    return built.document->saveStl(path, error);
}

// The drawing formats get their writers from the drawing library: a function that makes the
// drawing of built.bolt (its solid built.document) into path.
const QString NoDrawing =
    QStringLiteral("the drawing formats (pdf, svg, dxf) need the drawing, which this build of "
                   "krepiks-catalogue does not make yet; use --formats step,stl");

} // namespace

const std::vector<ExportFormat>& ExportFormats() {
    static const std::vector<ExportFormat> formats = {
        {QStringLiteral("step"), writeStep, {}},     {QStringLiteral("stl"), writeStl, {}},
        {QStringLiteral("pdf"), nullptr, NoDrawing}, {QStringLiteral("svg"), nullptr, NoDrawing},
        {QStringLiteral("dxf"), nullptr, NoDrawing},
    };
    return formats;
}

int FindFormat(const QString& name) {
    const auto& formats = ExportFormats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        if (formats[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

QStringList DefaultFormats() {
    // The drawing joins the STEP model here once it can be made.
    return {QStringLiteral("step")};
}

} // namespace krepiks::exporting
