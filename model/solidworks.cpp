#include "model/solidworks.h"

#include "platform/exception.h"

namespace krepiks {

void BuildModel(TBolt& bolt) {
    DeriveProfile(bolt);
    throw EOleSysError("Invalid class string", static_cast<int32_t>(0x800401F3));
}

void CloseSolidWorks() {}

void ReleaseSolidWorks() {}

} // namespace krepiks
