#pragma once
// Where Krepiks's programs and files are. An installed program finds the others through the
// folders fixed when it was configured (GNUInstallDirs under the install prefix); a program
// run from its build folder finds them beside itself, so a build works without installing.
//
// KREPIKS_PREFIX, when set, stands in for the configured prefix: it runs an installed tree
// unpacked somewhere else (a package taken apart for testing). An installed system never
// needs it.
#include <string>
#include <string_view>

namespace krepiks::install {

// The folder of the running program, with a trailing slash; empty when it cannot be told.
std::string ProgramDirectory();

// True when the running program is one of the installed ones (it runs from the configured
// folder for programs or for helpers).
bool RunsInstalled();

// A command of ours (krepiks-cad, krepiks-freecad...).
std::string ProgramPath(std::string_view name);

// A helper program that is not a command (krepiks-jet-reader).
std::string HelperPath(std::string_view name);

// A file that Krepiks ships (part.kprt, sample_catalogue.sql).
std::string DataPath(std::string_view name);

// The path an installed system has for the command name, whatever KREPIKS_PREFIX says:
// the one that the session bus's service file names.
std::string ConfiguredProgramPath(std::string_view name);

} // namespace krepiks::install
