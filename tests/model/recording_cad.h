#pragma once
// A CAD application that records every call it receives, registered under
// "SldWorks.Application" for the life of the object. Each getter hands out a new object, so
// a client that forgets to release one is caught by clientReferences().
#include "automation/dispatch_object.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace krepiks::test {

struct RecordedCall {
    long object;      // the server object's number, 1 for the first one made
    std::string role; // application, document, view, sketch, extension, features, selection,
                      // feature
    std::string member;
    uint16_t flags;
    std::vector<automation::Variant> args; // in the caller's order, as received
    std::vector<double> referenced;        // for each &dbl argument, its value at the call
    // &disp arguments are re-pointed at these copies of the value at the call, since the
    // caller's variable is gone once the call returns.
    std::vector<std::shared_ptr<automation::IDispatch*>> callouts;
};

class RecordingCad {
public:
    RecordingCad();
    ~RecordingCad();

    // Creation then fails with "Server execution failed"; attaching still works.
    void failCreation() { creationFails_ = true; }
    // Starts an application and announces it in the running-object table.
    void announceRunning();

    std::optional<std::string> raiseAt; // this member raises a server exception
    std::string raiseText = "Ошибка построения";
    bool newDocumentReturnsNothing = false;

    std::vector<RecordedCall> calls;
    int creationAttempts = 0;

    // References that clients still hold on the server's objects; applications optional.
    long clientReferences(bool applications) const;
    automation::IDispatch* application(size_t index) const;
    size_t objectCount() const { return objects_.size(); }
    // The calls of one build: those after its NewDocument up to the next Visible.
    std::vector<RecordedCall> buildCalls(size_t build) const;

    class Object;

private:
    friend class Object;
    automation::DispatchPtr make(const std::string& role);

    std::vector<automation::ComPtr<Object>> objects_;
    bool creationFails_ = false;
    uint32_t cookie_ = 0;
};

} // namespace krepiks::test
