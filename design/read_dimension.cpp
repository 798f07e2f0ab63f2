#include "design/read_dimension.h"

#include "platform/ui_effects.h"
#include "shell/error_report.h"

#include <QLineEdit>

namespace krepiks {

namespace {

void warn(QLineEdit* box, const QString& text) {
    uiEffects().beep();
    showMessage(ApplicationTitle, text, BoxIcon::None, BoxButtons::Ok);
    uiEffects().setFocus(box);
}

} // namespace

std::optional<double> ReadDimension(QLineEdit* box) {
    const std::optional<double> value = ParseDimension(box->text());
    if (!value) {
        warn(box, NotANumberMessage());
        return std::nullopt;
    }
    if (const QString problem = DimensionProblem(*value); !problem.isEmpty())
        warn(box, problem);
    return value;
}

} // namespace krepiks
