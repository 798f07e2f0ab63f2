#pragma once
// Who signs a drawing as its author when nobody says otherwise: the user of this account.
#include <QString>

namespace krepiks::drawing {

// The account's full name, else its login; empty when the system knows neither.
QString AccountName();

} // namespace krepiks::drawing
