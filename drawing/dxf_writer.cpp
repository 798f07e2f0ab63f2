#include "drawing/sheet_writers.h"

#include <QString>
#include <cmath>
#include <dxflib/dl_dxf.h>
#include <memory>
#include <numbers>
#include <optional>

namespace krepiks::drawing {

namespace {

// One layer per line type, named as Russian offices' CAD programs name them in ASCII.
const char* layerOf(Pen pen) {
    switch (pen) {
    case Pen::Thick:
        return "MAIN";
    case Pen::Thin:
        return "THIN";
    case Pen::Axis:
        return "AXIS";
    }
    return "0";
}

DL_Attributes on(Pen pen) {
    return DL_Attributes(layerOf(pen), 256, -1, "BYLAYER", 1.0);
}

// The code page of Russian R2000 drawings: Cyrillic as Windows-1251 bytes.
std::optional<char> windows1251(char32_t c) {
    if (c >= 0x410 && c <= 0x44F)
        return static_cast<char>(0xC0 + (c - 0x410));
    switch (c) {
    case 0x401: // Ё
        return static_cast<char>(0xA8);
    case 0x451: // ё
        return static_cast<char>(0xB8);
    case 0x2116: // №
        return static_cast<char>(0xB9);
    case 0xAB: // «
        return static_cast<char>(0xAB);
    case 0xBB: // »
        return static_cast<char>(0xBB);
    }
    return std::nullopt;
}

// R2000 files are not UTF-8: the diameter and degree signs as the control codes every CAD
// program reads, Cyrillic in the file's code page, anything else as a \U+XXXX escape.
std::string dxfText(const std::string& utf8) {
    std::string out;
    for (const char32_t c : QString::fromUtf8(utf8).toStdU32String()) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c == 0x2300)
            out += "%%c";
        else if (c == 0xB0)
            out += "%%d";
        else if (const auto byte = windows1251(c))
            out += *byte;
        else {
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\U+%04X", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

} // namespace

std::string WriteDxf(const Sheet& sheet, const std::string& path) {
    DL_Dxf dxf;
    std::unique_ptr<DL_WriterA> dw(dxf.out(path.c_str(), DL_Codes::AC1015));
    if (!dw || dw->openFailed())
        return "не удаётся начать запись DXF";
    dxf.writeHeader(*dw);
    dw->dxfString(9, "$DWGCODEPAGE");
    dw->dxfString(3, "ANSI_1251");
    dw->dxfString(9, "$INSUNITS");
    dw->dxfInt(70, 4); // millimetres
    dw->dxfString(9, "$MEASUREMENT");
    dw->dxfInt(70, 1); // metric
    dw->dxfString(9, "$LTSCALE");
    dw->dxfReal(40, 1.0);
    dw->dxfString(9, "$EXTMIN");
    dw->dxfReal(10, 0);
    dw->dxfReal(20, 0);
    dw->dxfReal(30, 0);
    dw->dxfString(9, "$EXTMAX");
    dw->dxfReal(10, sheet.width);
    dw->dxfReal(20, sheet.height);
    dw->dxfReal(30, 0);
    dw->sectionEnd();

    dw->sectionTables();
    dxf.writeVPort(*dw);
    // Dash 12, gap 3, dot, gap 3 (GOST 2.303).
    double dashDot[] = {12, -3, 0, -3};
    dw->tableLinetypes(4);
    dxf.writeLinetype(*dw, DL_LinetypeData("BYBLOCK", "", 0, 0, 0.0));
    dxf.writeLinetype(*dw, DL_LinetypeData("BYLAYER", "", 0, 0, 0.0));
    dxf.writeLinetype(*dw, DL_LinetypeData("CONTINUOUS", "Solid line", 0, 0, 0.0));
    dxf.writeLinetype(*dw,
                      DL_LinetypeData("DASHDOT", "Dash dot __ . __ . __", 0, 4, 18.0, dashDot));
    dw->tableEnd();
    dw->tableLayers(4);
    dxf.writeLayer(*dw, DL_LayerData("0", 0), DL_Attributes("", 7, 25, "CONTINUOUS", 1.0));
    dxf.writeLayer(*dw, DL_LayerData("MAIN", 0), DL_Attributes("", 7, 70, "CONTINUOUS", 1.0));
    dxf.writeLayer(*dw, DL_LayerData("THIN", 0), DL_Attributes("", 7, 25, "CONTINUOUS", 1.0));
    dxf.writeLayer(*dw, DL_LayerData("AXIS", 0), DL_Attributes("", 7, 25, "DASHDOT", 1.0));
    dw->tableEnd();
    dw->tableStyle(2);
    dxf.writeStyle(*dw, DL_StyleData("Standard", 0, 0.0, 1.0, 0.0, 0, 3.5, "txt", ""));
    dxf.writeStyle(*dw, DL_StyleData("OSIFONT", 0, 0.0, 1.0, 0.0, 0, 3.5, "osifont.ttf", ""));
    dw->tableEnd();
    dxf.writeView(*dw);
    dxf.writeUcs(*dw);
    dw->tableAppid(1);
    dxf.writeAppid(*dw, "ACAD");
    dw->tableEnd();
    dxf.writeDimStyle(*dw, 2.5, 2, 0, 1, 3.5);
    dxf.writeBlockRecord(*dw);
    dw->tableEnd();
    dw->sectionEnd();

    dw->sectionBlocks();
    dxf.writeBlock(*dw, DL_BlockData("*Model_Space", 0, 0.0, 0.0, 0.0));
    dxf.writeEndBlock(*dw, "*Model_Space");
    dxf.writeBlock(*dw, DL_BlockData("*Paper_Space", 0, 0.0, 0.0, 0.0));
    dxf.writeEndBlock(*dw, "*Paper_Space");
    dxf.writeBlock(*dw, DL_BlockData("*Paper_Space0", 0, 0.0, 0.0, 0.0));
    dxf.writeEndBlock(*dw, "*Paper_Space0");
    dw->sectionEnd();

    dw->sectionEntities();
    for (const Path& path : sheet.paths) {
        if (path.points.size() == 2 && !path.closed) {
            const Point a = path.points[0], b = path.points[1];
            dxf.writeLine(*dw, DL_LineData(a.x, a.y, 0, b.x, b.y, 0), on(path.pen));
            continue;
        }
        dxf.writePolyline(
            *dw, DL_PolylineData(static_cast<int>(path.points.size()), 0, 0, path.closed ? 1 : 0),
            on(path.pen));
        for (const Point& p : path.points)
            dxf.writeVertex(*dw, DL_VertexData(p.x, p.y, 0, 0));
        dxf.writePolylineEnd(*dw);
    }
    for (const Arc& arc : sheet.arcs) {
        if (arc.sweepDeg >= 360 - 1e-9)
            dxf.writeCircle(*dw, DL_CircleData(arc.centre.x, arc.centre.y, 0, arc.radius),
                            on(arc.pen));
        else
            dxf.writeArc(*dw,
                         DL_ArcData(arc.centre.x, arc.centre.y, 0, arc.radius, arc.startDeg,
                                    arc.startDeg + arc.sweepDeg),
                         on(arc.pen));
    }
    for (const Arrow& arrow : sheet.arrows) {
        const auto& c = arrow.corners;
        dxf.writeSolid(*dw,
                       DL_SolidData(c[0].x, c[0].y, 0, c[1].x, c[1].y, 0, c[2].x, c[2].y, 0, c[2].x,
                                    c[2].y, 0, 0),
                       on(Pen::Thin));
    }
    for (const Text& text : sheet.texts) {
        const int justification = text.anchor == Anchor::Left     ? 0
                                  : text.anchor == Anchor::Centre ? 1
                                                                  : 2;
        dxf.writeText(*dw,
                      DL_TextData(text.at.x, text.at.y, 0, text.at.x, text.at.y, 0, text.height,
                                  text.widthFactor, 0, justification, 0, dxfText(text.text),
                                  "OSIFONT", text.angleDeg * std::numbers::pi / 180),
                      on(Pen::Thin));
    }
    dw->sectionEnd();
    dxf.writeObjects(*dw);
    dxf.writeObjectsEnd(*dw);
    dw->dxfEOF();
    dw->close();
    return {};
}

} // namespace krepiks::drawing
