#pragma once
// krepiks-catalogue drawing: the drawing of a catalogue variant, or of a record handed over
// on standard input (the design window's variant), into a new file.
#include <QStringList>

namespace krepiks::drawing {

inline constexpr char DrawingUsage[] =
    "       krepiks-catalogue drawing ISP FILE [--material TEXT] [--density G_PER_CM3]\n"
    "                         [--designation TEXT] [--author TEXT]\n"
    "       krepiks-catalogue drawing --record - FILE [options as above]\n";

// The arguments after "drawing". Needs a QGuiApplication. Returns the exit code.
int RunDrawingCommand(const QStringList& arguments);

} // namespace krepiks::drawing
