#pragma once
// Reads a call trace (see trace.h) back into calls, e.g. to replay a build against a server.
//
//   for (const TracedCall& call : automation::trace::ReadTrace(path)) {
//       IDispatch* target = objects.at(*call.object);   // the replayer's own numbering
//       std::vector<Variant> args;
//       for (const TracedArg& arg : call.args)
//           args.push_back(arg.isValueType() ? arg.toVariant() : /* disp, &dbl, &disp */ ...);
//       DispatchInvoke(target, fromUtf8(call.member), call.kind, args, &result);
//   }
//
// Values come back typed by their T name: int and cur as integers (cur counts
// ten-thousandths), dbl and &dbl as doubles (exact: they were written with 17 digits), bool as
// bool, str as UTF-8 text or null, disp and &disp as object numbers or null, empty as null.
// Malformed input throws TraceFormatError; nothing is guessed.
#include "automation/invoke.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace automation::trace {

class TraceFormatError : public std::runtime_error {
public:
    TraceFormatError(const std::string& message, size_t line)
        : std::runtime_error(message), line_(line) {}
    // 1-based line of the file, 0 when a single line was parsed.
    size_t line() const noexcept { return line_; }

private:
    size_t line_;
};

struct TracedArg {
    std::string type; // int, dbl, cur, bool, str, disp, &dbl, &disp, empty
    std::variant<std::monostate, int64_t, double, bool, std::string> value;

    bool isNull() const { return std::holds_alternative<std::monostate>(value); }
    // int and cur counts, and object numbers of disp and &disp (0 when null).
    int64_t integer() const;
    // dbl and &dbl; int and cur converted (cur to its decimal value).
    double number() const;
    bool boolean() const;
    // str; empty for the null text.
    const std::string& text() const;

    // True for the types whose value travels in the argument itself: int, dbl, cur, bool,
    // str, empty. disp, &dbl and &disp refer to the caller's objects or storage.
    bool isValueType() const;
    // The automation value of a value type (a null str becomes the null text); throws
    // std::logic_error for disp, &dbl and &disp.
    Variant toVariant() const;
};

struct TracedCall {
    std::optional<long> object; // the called object's number
    std::string member;         // UTF-8
    CallKind kind = CallKind::Method;
    std::vector<TracedArg> args;       // in the caller's order
    std::optional<std::string> result; // T name of the result, for a call that succeeded
    std::optional<std::string> error;  // the message, for a call that failed
    bool failed() const { return error.has_value(); }
};

// One line of a trace.
TracedCall ParseTraceLine(std::string_view line);
// Every call of a trace file, in order; blank lines are skipped. A missing file throws
// TraceFormatError with line 0.
std::vector<TracedCall> ReadTrace(const std::string& path);

} // namespace automation::trace
