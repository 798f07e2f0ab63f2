#pragma once
// The CAD connection around a build: the one application reference of the run, the build
// itself and the close command. Every failing automation call surfaces as a
// krepiks::EOleError (or subclass) thrown to the caller.
#include "automation/automation.h"
#include "model/bolt.h"

namespace krepiks {

inline constexpr char16_t SolidWorksProgId[] = u"SldWorks.Application";

// The CAD application reference of the run: empty until the first build, replaced by each
// build, kept by Close, dropped at program exit.
extern automation::Variant SolidWorksApp;

// Derives the geometry of bolt, reaches the CAD application (create, else attach), makes it
// visible, opens a new document from bolt.TemplatePath and runs the build script.
// Releases every per-build reference however it ends.
void BuildModel(TBolt& bolt);

// Application, then Quit, on the held application reference.
void CloseSolidWorks();

// Program exit: drops the held reference without calling the application.
void ReleaseSolidWorks();

} // namespace krepiks
