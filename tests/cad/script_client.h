#pragma once
// A client that sends the bolt build's calls to a CAD application object by name, with the
// argument types the program sends, as the program's own build does.
#include "bolt_steps.h"
#include "platform/automation/invoke.h"

#include <string>
#include <vector>

namespace krepiks::cad::test {

// One late-bound call; throws std::runtime_error with the automation error's text.
automation::Variant Call(automation::IDispatch* object, const std::u16string& member,
                         std::vector<automation::Variant> args = {},
                         automation::CallKind kind = automation::CallKind::Method);

struct ScriptRun {
    int callsAfterNewDocument = 0;
    automation::DispatchPtr part;
};

// Visible, NewDocument(templatePath, 0, 0, 0), then the 348 calls of the build script.
ScriptRun SendBuildScript(automation::IDispatch* app, const BoltDims& d,
                          const std::string& templatePath);

} // namespace krepiks::cad::test
