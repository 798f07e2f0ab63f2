// libFuzzer target: the number reader of the dimension boxes.
#include "dimension_check.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string failure = krepiks::fuzz::CheckDimensionInput(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "dimension reader: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
