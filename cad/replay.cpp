#include "cad/replay.h"

#include "automation/trace.h"

#include <algorithm>
#include <map>
#include <set>

namespace krepiks::cad {

using automation::DispatchPtr;
using automation::Variant;
using automation::trace::TracedArg;
using automation::trace::TracedCall;

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// An object first met as a called object belongs to a CAD application when every member
// ever called on it is one of the application's.
bool LooksLikeApplication(const std::vector<TracedCall>& calls, std::size_t from, long number) {
    static const std::set<std::string> members = {"visible", "newdocument", "application", "quit"};
    for (std::size_t i = from; i < calls.size(); ++i)
        if (calls[i].object == number && !members.count(Lower(calls[i].member)))
            return false;
    return true;
}

std::string Where(std::size_t index, const TracedCall& call) {
    return "line " + std::to_string(index + 1) + " (" + call.member + ")";
}

} // namespace

std::shared_ptr<PartDocument> ReplayResult::lastDocument() const {
    for (auto s = sessions.rbegin(); s != sessions.rend(); ++s)
        if (!(*s)->documents().empty())
            return (*s)->documents().back();
    return nullptr;
}

ReplayResult ReplayCalls(const std::vector<TracedCall>& calls) {
    ReplayResult out;
    // The trace numbers objects in the order it first meets them (the called object, its
    // arguments, then its result), so the replay numbers its own objects the same way.
    std::map<long, DispatchPtr> objects;
    std::map<automation::IDispatch*, long> numbers;
    std::set<long> foreign;
    long highest = 0;
    auto fail = [&](const std::string& why) {
        out.ok = false;
        out.message = why;
        return out;
    };
    for (std::size_t index = 0; index < calls.size(); ++index) {
        const TracedCall& call = calls[index];
        if (!call.object)
            return fail(Where(index, call) + ": the call has no object");
        const long number = *call.object;
        if (foreign.count(number) || (!objects.count(number) && number <= highest)) {
            if (!objects.count(number) && !foreign.count(number))
                return fail(Where(index, call) + ": object " + std::to_string(number) +
                            " was made by a call the replay did not see");
            ++out.skipped;
            if (call.result == "disp")
                foreign.insert(++highest); // another program's object, numbered all the same
            continue;
        }
        if (!objects.count(number)) {
            highest = std::max(highest, number);
            if (!LooksLikeApplication(calls, index, number)) {
                foreign.insert(number);
                ++out.skipped;
                if (call.result == "disp")
                    foreign.insert(++highest);
                continue;
            }
            std::shared_ptr<CadSession> session;
            DispatchPtr app = CreateCadApplication(false, &session);
            out.sessions.push_back(session);
            numbers[app.get()] = number;
            objects[number] = std::move(app);
        }

        std::vector<Variant> args;
        std::vector<double> doubles(call.args.size());
        std::vector<automation::IDispatch*> pointers(call.args.size(), nullptr);
        for (std::size_t i = 0; i < call.args.size(); ++i) {
            const TracedArg& arg = call.args[i];
            try {
                if (arg.isValueType()) {
                    args.push_back(arg.toVariant());
                } else if (arg.type == "&dbl") {
                    doubles[i] = arg.number();
                    args.push_back(Variant::byRefDouble(&doubles[i]));
                } else if (arg.type == "disp" || arg.type == "&disp") {
                    DispatchPtr target;
                    if (!arg.isNull()) {
                        const auto it = objects.find(static_cast<long>(arg.integer()));
                        if (it == objects.end())
                            return fail(Where(index, call) + ": argument " + std::to_string(i + 1) +
                                        " names an unknown object");
                        target = it->second;
                    }
                    if (arg.type == "disp") {
                        args.push_back(Variant::fromDispatch(target));
                    } else {
                        pointers[i] = target.get();
                        args.push_back(Variant::byRefDispatch(&pointers[i]));
                    }
                } else {
                    return fail(Where(index, call) + ": argument of unknown type " + arg.type);
                }
            } catch (const std::exception& error) {
                return fail(Where(index, call) + ": " + error.what());
            }
        }

        // A caller that took no result let the server's go unnumbered; so does the replay.
        const bool wantsResult = !call.result || *call.result != "empty";
        Variant result;
        const automation::CallOutcome outcome =
            automation::DispatchInvoke(objects[number].get(), automation::fromUtf8(call.member),
                                       call.kind, args, wantsResult ? &result : nullptr);
        ++out.calls;
        if (call.failed() && outcome.ok())
            return fail(Where(index, call) + ": failed in the trace (" + *call.error +
                        ") but succeeded on replay");
        if (!call.failed() && !outcome.ok())
            return fail(Where(index, call) +
                        ": succeeded in the trace but failed on replay: " + outcome.message);
        if (!outcome.ok())
            continue;
        const std::string type = automation::trace::TypeName(result);
        if (call.result && *call.result != type)
            return fail(Where(index, call) + ": the trace's result is " + *call.result +
                        ", the replay's " + type);
        if (result.vt() == automation::VT_DISPATCH && result.dispVal()) {
            automation::IDispatch* made = result.dispVal().get();
            if (!numbers.count(made)) {
                numbers[made] = ++highest;
                objects[highest] = result.dispVal();
            }
        }
    }
    out.ok = true;
    return out;
}

ReplayResult ReplayTraceFile(const std::string& path) {
    std::vector<TracedCall> calls;
    try {
        calls = automation::trace::ReadTrace(path);
    } catch (const automation::trace::TraceFormatError& error) {
        ReplayResult out;
        out.message = error.what(); // names the file and line itself
        return out;
    }
    return ReplayCalls(calls);
}

} // namespace krepiks::cad
