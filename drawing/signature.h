#pragma once
// Who signs a drawing and when, when nobody says otherwise: the user of this account, today.
#include <QString>

namespace krepiks::drawing {

// The account's full name, else its login; empty when the system knows neither.
QString AccountName();
// Today's date as the title block writes it.
QString Today();

} // namespace krepiks::drawing
