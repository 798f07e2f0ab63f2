#pragma once
// A sheet into a new file whose format its extension names (.pdf, .svg, .dxf). The file is
// written under a temporary name in its folder and linked into place: an existing file is
// never replaced and a failed write leaves nothing behind.
#include "drawing/sheet.h"

#include <QString>
#include <string>

namespace krepiks::drawing {

// Whether the extension names a format the sheet can be written in.
bool KnownDrawingFormat(const QString& file);

// Empty when written, else why nothing was.
QString WriteSheetFile(const Sheet& sheet, const QString& file, const QString& title);

// The sheet into path as it stands, for a caller that names the file itself afterwards.
// Empty when written, else why not; what was written is then the caller's to remove.
std::string WriteSheetAt(const Sheet& sheet, const QString& path, const QString& title);

} // namespace krepiks::drawing
