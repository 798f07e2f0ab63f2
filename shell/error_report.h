#pragma once
// The application's title and its general error report: what every window uses of the
// shell without reaching any other window.
#include <QString>
#include <exception>

namespace krepiks {

inline const QString ApplicationTitle = QStringLiteral("Крепикс");

// A report's text: the message, with a full stop when its last character sorts after '.'.
QString ErrorReportText(const QString& message);

// The general error report: caption "Крепикс", error icon, OK.
void ShowErrorReport(const std::exception& error);

} // namespace krepiks
