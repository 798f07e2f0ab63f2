#include "shell/error_report.h"

#include "platform/ui_effects.h"

namespace krepiks {

QString ErrorReportText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

void ShowErrorReport(const std::exception& error) {
    showMessage(ApplicationTitle, ErrorReportText(QString::fromUtf8(error.what())), BoxIcon::Error);
}

} // namespace krepiks
