// Which injected fault, if any, fires on a platform call.
#pragma once

#include <cstdint>

#include "platform/sim/machine.h"

namespace simulator {

// Counts a call of the operation and answers the first fault on it whose
// filters all match the call and that has not fired its number of times;
// null when none fires. A filter the operation does not take never matches
// a call, as the call carries no value for it (-1). A fault with Kill marks
// the call's record killed and throws simulator::Killed.
const Fault* FireFault(Operation operation, std::int64_t device = -1, std::int64_t property = -1,
                       std::int64_t stateChange = -1);

} // namespace simulator
