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

long Mark() {
    if (!Enabled())
        return 0;
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.next;
}

void Rollback(long mark) {
    if (!Enabled())
        return;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (mark <= 0 || mark >= s.next)
        return;
    std::erase_if(s.numbers, [mark](const auto& entry) { return entry.second >= mark; });
    s.next = mark;
}

CallRecord::CallRecord(const IDispatch* target, const std::u16string& member, CallKind kind,
                       const std::vector<Variant>& args) {
    if (!Enabled())
        return;
    active_ = true;
    State& s = state();
    std::lock_guard lock(s.mutex);
    head_ = "{\"object\": ";
    appendObject(head_, s, target);
    head_ += ", \"member\": ";
    appendJsonString(head_, toUtf8(member));
    head_ += ", \"kind\": \"";
    head_ += CallKindName(kind);
    head_ += "\", \"args\": [";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i)
            head_ += ", ";
        appendArg(head_, s, args[i]);
    }
    head_ += ']';
}

void CallRecord::succeeded(const Variant* result) {
    if (!active_)
        return;
    active_ = false;
    State& s = state();
    std::lock_guard lock(s.mutex);
    const Variant none;
    const Variant& value = result ? *result : none;
    if (value.vt() == VT_DISPATCH && value.dispVal())
        numberLocked(s, value.dispVal().get()); // numbered where it first appears
    std::string line = std::move(head_);
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
    std::string line = std::move(head_);
    line += ", \"error\": ";
    appendJsonString(line, message);
    line += "}\n";
    writeLocked(s, line);
}

} // namespace automation::trace
