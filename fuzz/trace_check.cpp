#include "trace_check.h"

#include "automation/trace_reader.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace krepiks::fuzz {

using automation::trace::ParseTraceLine;
using automation::trace::TracedArg;
using automation::trace::TracedCall;
using automation::trace::TraceFormatError;

namespace {

void AppendString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += char(c);
        }
    }
    out += '"';
}

void AppendDouble(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "\"NaN\"";
    } else if (std::isinf(value)) {
        out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else {
        char buffer[40];
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
        out.append(buffer, end.ptr);
    }
}

const char* KindName(automation::CallKind kind) {
    switch (kind) {
    case automation::CallKind::Method:
        return "method";
    case automation::CallKind::Get:
        return "get";
    case automation::CallKind::Put:
        return "put";
    case automation::CallKind::MethodOrGet:
        return "method-or-get";
    }
    return "?";
}

// The line the trace writer would have written for call.
std::string Write(const TracedCall& call) {
    std::string out = "{\"object\": ";
    out += call.object ? std::to_string(*call.object) : "null";
    out += ", \"member\": ";
    AppendString(out, call.member);
    out += ", \"kind\": \"";
    out += KindName(call.kind);
    out += "\", \"args\": [";
    for (std::size_t i = 0; i < call.args.size(); ++i) {
        const TracedArg& arg = call.args[i];
        out += i ? ", " : "";
        out += "{\"type\": ";
        AppendString(out, arg.type);
        out += ", \"value\": ";
        if (arg.isNull())
            out += "null";
        else if (const auto* v = std::get_if<int64_t>(&arg.value))
            out += std::to_string(*v);
        else if (const auto* d = std::get_if<double>(&arg.value))
            AppendDouble(out, *d);
        else if (const auto* b = std::get_if<bool>(&arg.value))
            out += *b ? "true" : "false";
        else
            AppendString(out, std::get<std::string>(arg.value));
        out += '}';
    }
    out += "], ";
    if (call.result) {
        out += "\"result\": ";
        AppendString(out, *call.result);
    } else {
        out += "\"error\": ";
        AppendString(out, call.error.value_or(""));
    }
    out += '}';
    return out;
}

bool SameValue(const TracedArg& a, const TracedArg& b) {
    if (a.value.index() != b.value.index())
        return false;
    if (const auto* x = std::get_if<double>(&a.value)) {
        const double y = std::get<double>(b.value);
        return std::isnan(*x) ? std::isnan(y) : *x == y && std::signbit(*x) == std::signbit(y);
    }
    return a.value == b.value;
}

bool Same(const TracedCall& a, const TracedCall& b) {
    if (a.object != b.object || a.member != b.member || a.kind != b.kind || a.result != b.result ||
        a.error != b.error || a.args.size() != b.args.size())
        return false;
    for (std::size_t i = 0; i < a.args.size(); ++i)
        if (a.args[i].type != b.args[i].type || !SameValue(a.args[i], b.args[i]))
            return false;
    return true;
}

} // namespace

std::string CheckTraceInput(const uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    TracedCall call;
    try {
        call = ParseTraceLine(line);
    } catch (const TraceFormatError&) {
        return {}; // refused and said why: what a reader of bad input should do
    }
    // What the replayer does with an accepted call must not fail other than by reporting.
    for (const TracedArg& arg : call.args) {
        (void)arg.integer();
        (void)arg.number();
        (void)arg.boolean();
        (void)arg.text();
        if (arg.isValueType()) {
            try {
                (void)arg.toVariant();
            } catch (const TraceFormatError&) {
            }
        }
    }
    const std::string written = Write(call);
    TracedCall again;
    try {
        again = ParseTraceLine(written);
    } catch (const TraceFormatError& error) {
        return "accepted, but its own rewriting is refused: " + std::string(error.what()) + "\n  " +
               written;
    }
    if (!Same(call, again))
        return "accepted, but reads differently once written back:\n  " + written;
    return {};
}

} // namespace krepiks::fuzz
