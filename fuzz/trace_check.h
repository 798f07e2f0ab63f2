#pragma once
// The trace reader checked on any line: it either refuses the line with TraceFormatError or
// returns a call that, written back in the trace format, reads as the same call.
#include <cstddef>
#include <cstdint>
#include <string>

namespace krepiks::fuzz {

// Empty when the reader behaved, else what went wrong.
std::string CheckTraceInput(const uint8_t* data, std::size_t size);

} // namespace krepiks::fuzz
