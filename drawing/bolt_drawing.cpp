#include "drawing/bolt_drawing.h"

#include "drawing/bolt_layout.h"
#include "drawing/drafting_font.h"
#include "drawing/part_build.h"
#include "drawing/title_block.h"
#include "drawing/view_projection.h"

namespace krepiks::drawing {

namespace {

// Room for the views above the title block and the note over it, inside the frame.
Box freeArea(const Sheet& sheet) {
    const FrameBox frame = FrameOf(sheet);
    return {frame.left + 5, frame.bottom + 55 + 12, frame.right - 5, frame.top - 5};
}

} // namespace

BoltDrawing MakeBoltDrawing(const DrawingRequest& request) {
    // No build without the font: nothing could be written anyway.
    if (const std::string font = LoadDraftingFont(); !font.empty()) {
        BoltDrawing drawing;
        drawing.error = font;
        return drawing;
    }
    return DrawBuiltPart(request, BuildPart(request.bolt));
}

BoltDrawing DrawBuiltPart(const DrawingRequest& request, const BuiltPart& part) {
    BoltDrawing drawing;
    if (const std::string font = LoadDraftingFont(); !font.empty()) {
        drawing.error = font;
        return drawing;
    }
    if (part.solid.IsNull()) {
        drawing.error = part.refusal;
        return drawing;
    }
    drawing.volume = part.volume;
    drawing.mass = part.volume / 1000 * request.density / 1000;
    const ViewLines front = ProjectVisibleEdges(part.solid, ViewDirection::Front);
    const ViewLines end = ProjectVisibleEdges(part.solid, ViewDirection::FromHead);
    const TextMeasure measure = DraftingMeasure();

    for (const char* format : {"A4", "A3"}) {
        Sheet sheet = BlankSheet(format);
        const Box area = freeArea(sheet);
        for (const Scale& scale : StandardScales()) {
            ViewsLayout layout = LayOutViews(request.bolt, front, end, scale.factor, measure);
            const Box& e = layout.extent;
            if (e.x1 - e.x0 > area.x1 - area.x0 || e.y1 - e.y0 > area.y1 - area.y0)
                continue;
            Shift(layout.content, (area.x0 + area.x1 - e.x0 - e.x1) / 2,
                  (area.y0 + area.y1 - e.y0 - e.y1) / 2);
            Append(sheet, layout.content);
            TitleFields fields;
            fields.name = "Болт";
            fields.designation =
                request.designation.empty() ? request.bolt.isp : request.designation;
            fields.material = request.material;
            fields.mass = MassNumber(drawing.mass);
            fields.scale = scale.text;
            fields.author = request.author;
            fields.date = request.date;
            DrawFrameAndTitleBlock(sheet, fields, measure);
            const FrameBox frame = FrameOf(sheet);
            sheet.texts.push_back({"* Размер для справки.",
                                   {frame.right - 185, frame.bottom + 55 + 4},
                                   3.5,
                                   0,
                                   Anchor::Left,
                                   1});
            drawing.sheet = std::move(sheet);
            drawing.scale = scale;
            return drawing;
        }
    }
    drawing.error = "виды не помещаются на лист A3 ни в одном стандартном масштабе";
    return drawing;
}

} // namespace krepiks::drawing
