// libFuzzer target: the trace reader of the replay command.
#include "trace_check.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string failure = krepiks::fuzz::CheckTraceInput(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "trace reader: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
