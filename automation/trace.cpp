#include "automation/trace.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace automation::trace {

namespace {

enum Mode : int { Unknown = -1, Off = 0, On = 1 };

struct State {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::unordered_map<const IDispatch*, long> numbers;
    long next = 1;
};

std::atomic<int> mode{Unknown};
std::atomic<IdentityOf> identityOf{nullptr};

// Never destroyed: objects may still be released during static destruction.
State& state() {
    static State* instance = new State;
    return *instance;
}

// Caller holds the mutex.
int openLocked(State& s) {
    const char* path = std::getenv("KREPIKS_AUTOMATION_TRACE");
    if (path && *path) {
        s.file = std::fopen(path, "a");
        if (s.file)
            std::setvbuf(s.file, nullptr, _IOFBF, 1 << 16); // one write per flushed line
    }
    const int m = s.file ? On : Off;
    mode.store(m, std::memory_order_release);
    return m;
}

// Caller holds the mutex.
long numberLocked(State& s, const IDispatch* object) {
    if (const IdentityOf identity = identityOf.load(std::memory_order_acquire))
        object = identity(object);
    auto [it, inserted] = s.numbers.try_emplace(object, s.next);
    if (inserted)
        ++s.next;
    return it->second;
}

void appendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void appendDouble(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "\"NaN\"";
    } else if (std::isinf(value)) {
        out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else {
        // to_chars ignores the C locale, which a window toolkit may have set to a comma.
        char buffer[40];
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
        out.append(buffer, end.ptr);
    }
}

void appendObject(std::string& out, State& s, const IDispatch* object) {
    if (object)
        out += std::to_string(numberLocked(s, object));
    else
        out += "null";
}

void appendArg(std::string& out, State& s, const Variant& arg) {
    out += "{\"type\": \"";
    out += TypeName(arg);
    out += "\", \"value\": ";
    switch (arg.vt()) {
    case VT_I4:
        out += std::to_string(arg.intVal());
        break;
    case VT_R8:
        appendDouble(out, arg.dblVal());
        break;
    case VT_CY:
        out += std::to_string(arg.cyVal().int64);
        break;
    case VT_BOOL:
        out += arg.boolVal() != VARIANT_FALSE ? "true" : "false";
        break;
    case VT_BSTR:
        if (arg.bstrVal().isNull())
            out += "null";
        else
            appendJsonString(out, toUtf8(arg.bstrVal().str()));
        break;
    case VT_DISPATCH:
        appendObject(out, s, arg.dispVal().get());
        break;
    case VT_BYREF | VT_R8:
        if (arg.pdblVal())
            appendDouble(out, *arg.pdblVal());
        else
            out += "null";
        break;
    case VT_BYREF | VT_DISPATCH:
        appendObject(out, s, arg.ppdispVal() ? *arg.ppdispVal() : nullptr);
        break;
    default:
        out += "null";
    }
    out += '}';
}

void writeLocked(State& s, const std::string& line) {
    if (!s.file)
        return;
    std::fwrite(line.data(), 1, line.size(), s.file);
    std::fflush(s.file);
}

} // namespace

bool Enabled() {
    int m = mode.load(std::memory_order_relaxed);
    if (m == Unknown) {
        State& s = state();
        std::lock_guard lock(s.mutex);
        m = mode.load(std::memory_order_acquire);
        if (m == Unknown)
            m = openLocked(s);
    }
    return m == On;
}

void Reload() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.file)
        std::fclose(s.file);
    s.file = nullptr;
    s.numbers.clear();
    s.next = 1;
    openLocked(s);
}

const char* TypeName(const Variant& value) {
    switch (value.vt()) {
    case VT_I4:
        return "int";
    case VT_R8:
        return "dbl";
    case VT_CY:
        return "cur";
    case VT_BOOL:
        return "bool";
    case VT_BSTR:
        return "str";
    case VT_DISPATCH:
        return "disp";
    case VT_BYREF | VT_R8:
        return "&dbl";
    case VT_BYREF | VT_DISPATCH:
        return "&disp";
    default:
        return "empty";
    }
}

void ForgetObject(const IDispatch* object) {
    if (mode.load(std::memory_order_relaxed) != On)
        return;
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.numbers.erase(object);
}

void SetIdentityOf(IdentityOf identity) {
    identityOf.store(identity, std::memory_order_release);
}

struct CallRecord::Arg {
    Variant value; // by value; for &disp the referenced object at the time of the call
    bool reference = false;
    double referenced = 0; // &dbl: the value at the time of the call
    bool nullReference = false;
};

CallRecord::CallRecord(const IDispatch* target, const std::u16string& member, CallKind kind,
                       const std::vector<Variant>& args) {
    if (!Enabled())
        return;
    active_ = true;
    target_ = DispatchPtr(const_cast<IDispatch*>(target));
    member_ = member;
    kind_ = kind;
    args_.reserve(args.size());
    for (const Variant& arg : args) {
        Arg captured;
        if (arg.vt() == (VT_BYREF | VT_R8)) {
            captured.value = arg;
            captured.reference = true;
            captured.nullReference = !arg.pdblVal();
            captured.referenced = arg.pdblVal() ? *arg.pdblVal() : 0;
        } else if (arg.vt() == (VT_BYREF | VT_DISPATCH)) {
            captured.value = arg;
            captured.reference = true;
            captured.nullReference = !arg.ppdispVal();
            // The referenced object is held in place of the cell, which the call may change.
            if (arg.ppdispVal() && *arg.ppdispVal())
                captured.value = Variant::fromDispatch(DispatchPtr(*arg.ppdispVal()));
        } else {
            captured.value = arg;
        }
        args_.push_back(std::move(captured));
    }
}

CallRecord::CallRecord(CallRecord&& other) noexcept
    : active_(std::exchange(other.active_, false)), target_(std::move(other.target_)),
      member_(std::move(other.member_)), kind_(other.kind_), args_(std::move(other.args_)) {}

CallRecord::~CallRecord() = default;

std::string CallRecord::head() const {
    State& s = state();
    std::string out = "{\"object\": ";
    appendObject(out, s, target_.get());
    out += ", \"member\": ";
    appendJsonString(out, toUtf8(member_));
    out += ", \"kind\": \"";
    out += CallKindName(kind_);
    out += "\", \"args\": [";
    for (size_t i = 0; i < args_.size(); ++i) {
        if (i)
            out += ", ";
        const Arg& arg = args_[i];
        if (!arg.reference) {
            appendArg(out, s, arg.value);
            continue;
        }
        const bool isDouble = arg.value.vt() == (VT_BYREF | VT_R8);
        out += isDouble ? "{\"type\": \"&dbl\", \"value\": " : "{\"type\": \"&disp\", \"value\": ";
        if (isDouble) {
            if (arg.nullReference)
                out += "null";
            else
                appendDouble(out, arg.referenced);
        } else {
            appendObject(out, s,
                         arg.value.vt() == VT_DISPATCH ? arg.value.dispVal().get() : nullptr);
        }
        out += '}';
    }
    out += ']';
    return out;
}

void CallRecord::succeeded(const Variant* result) {
    if (!active_)
        return;
    active_ = false;
    State& s = state();
    std::lock_guard lock(s.mutex);
    const Variant none;
    const Variant& value = result ? *result : none;
    std::string line = head();
    if (value.vt() == VT_DISPATCH && value.dispVal())
        numberLocked(s, value.dispVal().get()); // numbered where it first appears
    line += ", \"result\": \"";
    line += TypeName(value);
    line += "\"}\n";
    writeLocked(s, line);
}

void CallRecord::failed(const std::string& message) {
    if (!active_)
        return;
    active_ = false;
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::string line = head();
    line += ", \"error\": ";
    appendJsonString(line, message);
    line += "}\n";
    writeLocked(s, line);
}

} // namespace automation::trace
