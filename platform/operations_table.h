// Choosing the table of operations: where each program starts, its entry
// makes one backend's table the one every platform::X call goes through. A
// layer may wrap another table by calling through it, as the deployment's
// observer does. A backend answers its table with the body in
// platform/backend_tables.inc, which fills it from the lists.
#pragma once

#include "platform/inspection.h"
#include "platform/platform.h"

namespace platform {

// Makes table, which outlives its use, the one every platform::X call goes
// through from now on; null chooses none again: every call then stops the
// program with a message on standard error and exit status
// PLATFORM_UNCHOSEN (70).
void UseOperations(const Operations* table);

} // namespace platform
