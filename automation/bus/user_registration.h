#pragma once
// Which program serves a class for this user, kept as Windows keeps a class's local server
// in the registry: one file per ProgID, ${XDG_CONFIG_HOME:-~/.config}/krepiks/classes/PROGID,
// holding the program's absolute path on its first line. A program that creates the class
// registers what the user chose, or its own default when the user chose nothing.
#include "automation/automation.h"

#include <string>

namespace automation::bus {

// Where the registration of progId is kept.
std::string UserRegistrationPath(const std::u16string& progId);

// The program the user registered for progId; empty when none.
std::string UserRegisteredServer(const std::u16string& progId);

// Records executablePath as the program serving progId for this user; an empty path
// removes the registration. False, with the reason, when the file cannot be written.
bool SetUserRegisteredServer(const std::u16string& progId, const std::string& executablePath,
                             std::string* error = nullptr);

// RegisterLocalServer with the user's program, or defaultPath when there is none: through
// RegisterBusStartedServer when defaultIsBusService says the bus's service file names it.
CLSID RegisterUserLocalServer(const std::u16string& progId, const std::string& defaultPath,
                              bool defaultIsBusService = false);

} // namespace automation::bus
