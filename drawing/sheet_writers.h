#pragma once
// The sheet into a file: PDF and SVG through Qt's painters, DXF through dxflib. Each writes
// into an open file (or the path of one) and says why it could not; the caller decides the
// file's final name.
#include "drawing/sheet.h"

#include <QIODevice>
#include <QPainter>
#include <string>

namespace krepiks::drawing {

// Paints the sheet with the painter's unit being 1/unitsPerMm of a millimetre and the sheet's
// top left corner at the origin.
void PaintSheet(QPainter& painter, const Sheet& sheet, double unitsPerMm);

std::string WritePdf(const Sheet& sheet, QIODevice& file, const std::string& title);
std::string WriteSvg(const Sheet& sheet, QIODevice& file, const std::string& title);
std::string WriteDxf(const Sheet& sheet, const std::string& path);

} // namespace krepiks::drawing
