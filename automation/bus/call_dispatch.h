#pragma once
// What a server does with its clients' calls: member look-ups, single calls and runs of
// posted calls on the objects its handle table holds for them, and the answers they make.
// A client whose posted call failed is halted: its calls answer E_SKIPPED until it resumes.
#include "automation/automation.h"
#include "automation/bus/handle_table.h"
#include "automation/bus/protocol.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <set>
#include <vector>

namespace automation::bus::server {

class CallDispatch {
public:
    explicit CallDispatch(HandleTable& handles) : handles_(handles) {}

    // Each takes a call's arguments and gives its reply's; an empty reply for malformed
    // arguments.
    QList<QVariant> getIDsOfNames(const QString& client, const QList<QVariant>& args);
    QList<QVariant> invokeAs(const QString& client, const QList<QVariant>& args);
    // A run of posted calls, carried out in order in one go. Once one fails (or had failed
    // before) the rest answer E_SKIPPED: the client sent them assuming it went through.
    // Nothing runs when any part of the run is malformed. Only the last call of a run the
    // client waits on is served as a waited call: the client goes on from the others.
    QList<QVariant> postRun(const QString& client, const QList<QVariant>& args);
    // The reply of a look-up or a call of a halted client.
    static QList<QVariant> skipped(bool lookup);

    bool halted(const QString& client) const { return halted_.count(client) != 0; }
    // The client has heard of its failure, or has gone.
    void resume(const QString& client) { halted_.erase(client); }

private:
    // What one call came to: outs holds the result, then each argument's value as it came
    // back (empty when the call never reached the object).
    struct Outcome {
        HRESULT h = S_OK;
        WireValue result;
        WireValues outs;
        EXCEPINFO info;
        uint32_t argErr = NoArgError;
    };

    static QList<QVariant> invokeReply(const Outcome& outcome);
    static bool ValidPromise(uint64_t promise);
    // One call on the client's object handle: by name when name is not empty.
    Outcome invoke(const QString& client, uint64_t handle, const QString& name, DISPID dispid,
                   LCID lcid, uint16_t flags, bool wantResult, uint64_t promise,
                   const std::vector<WireValue>& wire, const QList<qint32>& named,
                   bool posted = false, bool awaited = true);
    WireValue toWire(const QString& client, const Variant& value);

    HandleTable& handles_;
    std::set<QString> halted_; // clients whose posted call failed and who have not heard yet
};

} // namespace automation::bus::server
