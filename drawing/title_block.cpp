#include "drawing/title_block.h"

#include <algorithm>

namespace krepiks::drawing {

namespace {

constexpr double BlockWidth = 185, BlockHeight = 55;

} // namespace

Sheet BlankSheet(const std::string& format) {
    Sheet sheet;
    sheet.format = format;
    sheet.width = format == "A3" ? 420 : 210;
    sheet.height = 297;
    return sheet;
}

FrameBox FrameOf(const Sheet& sheet) {
    return {20, 5, sheet.width - 5, sheet.height - 5};
}

Text FittedText(const std::string& text, Point at, double height, Anchor anchor, double width,
                const TextMeasure& measure) {
    Text fitted{text, at, height, 0, anchor, 1};
    const double natural = measure(text, height);
    if (natural > width && natural > 0)
        fitted.widthFactor = width / natural;
    return fitted;
}

void DrawFrameAndTitleBlock(Sheet& sheet, const TitleFields& fields, const TextMeasure& measure) {
    const FrameBox frame = FrameOf(sheet);
    sheet.rectangle(Pen::Thick, frame.left, frame.bottom, frame.right - frame.left,
                    frame.top - frame.bottom);
    const double x0 = frame.right - BlockWidth, y0 = frame.bottom;
    const auto thick = [&](double xa, double ya, double xb, double yb) {
        sheet.line(Pen::Thick, {x0 + xa, y0 + ya}, {x0 + xb, y0 + yb});
    };
    const auto thin = [&](double xa, double ya, double xb, double yb) {
        sheet.line(Pen::Thin, {x0 + xa, y0 + ya}, {x0 + xb, y0 + yb});
    };
    // A text in the cell [xa, xb] × [ya, ya + 5 or more], its baseline 1.25 above ya.
    const auto cell = [&](const std::string& text, double xa, double xb, double ya, double height,
                          Anchor anchor = Anchor::Centre, double baseline = 1.25) {
        if (text.empty())
            return;
        const double x = anchor == Anchor::Centre ? (xa + xb) / 2 : xa + 1;
        sheet.texts.push_back(
            FittedText(text, {x0 + x, y0 + ya + baseline}, height, anchor, xb - xa - 2, measure));
    };

    sheet.rectangle(Pen::Thick, x0, y0, BlockWidth, BlockHeight);
    // Left part: eleven rows of 5, columns 7, 10, 23, 15 and 10.
    for (int row = 1; row < 11; ++row) {
        const double y = BlockHeight - row * 5;
        if (row == 4 || row == 5)
            thick(0, y, 65, y);
        else
            thin(0, y, 65, y);
    }
    thick(65, 0, 65, BlockHeight);
    thick(7, 30, 7, BlockHeight);
    for (double x : {17.0, 40.0, 55.0})
        thick(x, 0, x, BlockHeight);
    const double header = BlockHeight - 5 * 5;
    cell("Изм.", 0, 7, header, 2.5);
    cell("Лист", 7, 17, header, 2.5);
    cell("№ докум.", 17, 40, header, 2.5);
    cell("Подп.", 40, 55, header, 2.5);
    cell("Дата", 55, 65, header, 2.5);
    const char* roles[] = {"Разраб.", "Пров.", "Т.контр.", "", "Н.контр.", "Утв."};
    for (int i = 0; i < 6; ++i)
        cell(roles[i], 0, 17, header - 5 * (i + 1), 2.5, Anchor::Left);
    cell(fields.author, 17, 40, header - 5, 2.5, Anchor::Left);
    cell(fields.date, 55, 65, header - 5, 2.5);

    // Right part: designation along the top, name and material on the left, then the
    // letter, mass and scale, the sheets and the organisation.
    thick(65, 40, 185, 40);
    thick(135, 0, 135, 40);
    thick(65, 15, 185, 15);
    thick(135, 35, 185, 35);
    thick(135, 20, 185, 20);
    thin(140, 20, 140, 35);
    thin(145, 20, 145, 35);
    thick(150, 20, 150, 40);
    thick(167, 20, 167, 40);
    thick(155, 15, 155, 20);
    cell(fields.designation, 65, 185, 40, 7, Anchor::Centre, 4);
    cell(fields.name, 65, 135, 15, 7, Anchor::Centre, 9);
    cell(fields.material, 65, 135, 0, 5, Anchor::Centre, 5);
    cell("Лит.", 135, 150, 35, 2.5);
    cell("Масса", 150, 167, 35, 2.5);
    cell("Масштаб", 167, 185, 35, 2.5);
    cell(fields.mass, 150, 167, 20, 3.5, Anchor::Centre, 5.75);
    cell(fields.scale, 167, 185, 20, 3.5, Anchor::Centre, 5.75);
    cell("Лист 1", 135, 155, 15, 2.5, Anchor::Left);
    cell("Листов 1", 155, 185, 15, 2.5, Anchor::Left);
}

} // namespace krepiks::drawing
