#include "export/export_formats.h"

#include "drawing/bolt_drawing.h"
#include "drawing/sheet_file.h"
#include "drawing/signature.h"

#include <QGuiApplication>

namespace krepiks::exporting {

namespace {

bool writeStep(const BuiltVariant& built, const std::string& path, std::string* error) {
    return built.document->saveStep(path, error);
}

bool writeStl(const BuiltVariant& built, const std::string& path, std::string* error) {
    return built.document->saveStl(path, error);
}

// The drawing of the solid the build left, as `krepiks-catalogue drawing` makes it, signed
// by the user who runs the export on the day it runs.
const drawing::BoltDrawing& drawingOf(const BuiltVariant& built) {
    if (!built.drawing) {
        drawing::DrawingRequest request;
        request.bolt = built.bolt;
        request.author = drawing::AccountName().toStdString();
        request.date = drawing::Today().toStdString();
        built.drawing = std::make_shared<const drawing::BoltDrawing>(
            drawing::DrawBuiltPart(request, drawing::PartOf(*built.document)));
    }
    return *built.drawing;
}

bool writeDrawing(const BuiltVariant& built, const std::string& path, std::string* error) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        *error = "для чертежа нужны средства рисования программы, а этот процесс их не запустил";
        return false;
    }
    const drawing::BoltDrawing& sheet = drawingOf(built);
    if (!sheet.error.empty()) {
        *error = "чертёж не сделан: " + sheet.error;
        return false;
    }
    *error =
        drawing::WriteSheetAt(sheet.sheet, QString::fromStdString(path),
                              QStringLiteral("Болт ") + QString::fromStdString(built.bolt.isp));
    return error->empty();
}

} // namespace

const std::vector<ExportFormat>& ExportFormats() {
    static const std::vector<ExportFormat> formats = {
        {QStringLiteral("step"), writeStep},   {QStringLiteral("stl"), writeStl},
        {QStringLiteral("pdf"), writeDrawing}, {QStringLiteral("svg"), writeDrawing},
        {QStringLiteral("dxf"), writeDrawing},
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
    return {QStringLiteral("step"), QStringLiteral("pdf")};
}

} // namespace krepiks::exporting
