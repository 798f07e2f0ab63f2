// Linked into the program so that "SldWorks.Application" answers from its first moment,
// with a window for each application it shows. Nothing else refers to this unit.
#include "cad/cad_server.h"
#include "cad/cad_window.h"

namespace {

[[maybe_unused]] const bool Registered = [] {
    krepiks::cad::RegisterCadServer();
    krepiks::cad::InstallCadWindows();
    return true;
}();

} // namespace
