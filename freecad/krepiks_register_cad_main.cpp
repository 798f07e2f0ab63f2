// krepiks-register-cad: records for the current user which program serves
// "SldWorks.Application", where the class registry looks (automation/bus/user_registration.h).
//   krepiks-register-cad             prints the current choice
//   krepiks-register-cad freecad     FreeCAD, through krepiks-freecad
//   krepiks-register-cad builtin     the built-in stand-in krepiks-cad (the default)
#include "automation/bus/local_client.h"
#include "automation/bus/user_registration.h"
#include "cad/cad_server.h"
#include "freecad/freecad_link.h"
#include "install/install_layout.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* Usage =
    "usage: krepiks-register-cad [freecad|builtin]\n"
    "  Chooses the program that serves SldWorks.Application for you:\n"
    "  freecad (FreeCAD, through krepiks-freecad) or builtin (krepiks-cad,\n"
    "  the default). Without an argument, prints the current choice.\n";

const std::u16string ProgId = krepiks::cad::CadProgId;

int PrintChoice() {
    const std::string chosen = automation::bus::UserRegisteredServer(ProgId);
    const std::string builtin = krepiks::install::ProgramPath("krepiks-cad");
    if (chosen.empty())
        std::printf("SldWorks.Application: builtin (%s)\n", builtin.c_str());
    else
        std::printf("SldWorks.Application: %s (%s)\n",
                    chosen.ends_with("/krepiks-freecad") ? "freecad" : "other", chosen.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 1)
        return PrintChoice();
    const std::string choice = argv[1];
    if (argc != 2 || (choice != "freecad" && choice != "builtin")) {
        std::fputs(Usage, choice == "--help" || choice == "-h" ? stdout : stderr);
        return choice == "--help" || choice == "-h" ? 0 : 2;
    }
    const std::string program =
        choice == "freecad" ? krepiks::install::ProgramPath("krepiks-freecad") : "";
    std::string error;
    if (!automation::bus::SetUserRegisteredServer(ProgId, program, &error)) {
        std::fprintf(stderr, "krepiks-register-cad: %s\n", error.c_str());
        return 1;
    }
    // Registered all the same, as Windows keeps a registration whose server is missing: the
    // person hears now, not at the first build.
    if (choice == "freecad" && !krepiks::freecad::FreeCadLink::Available(nullptr))
        std::fprintf(stderr,
                     "krepiks-register-cad: warning: FreeCAD is not installed; builds will fail "
                     "until you install the package %s (apt-get install %s)\n",
                     krepiks::freecad::FreeCadPackage, krepiks::freecad::FreeCadPackage);
    return PrintChoice();
}
