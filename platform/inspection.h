// What the pre-flight asks of the platform beyond what the tool calls, to take
// a read-only picture of a machine: a registry value, whether a key would be
// opened for an access without opening it for that access, whether the
// process runs elevated, and setting the last error before a call that may
// leave it as it was. Each backend implements these beside platform.h's.
#pragma once

#include "platform/platform.h"

namespace platform {

constexpr REGSAM KEY_READ = 0x20019;
constexpr DWORD DN_NEED_RESTART = 0x100; // status flag: the device waits for a restart of the computer
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_MORE_DATA = 234;

} // namespace platform

#define TESSARY_PLATFORM_OPERATIONS inline namespace TESSARY_PLATFORM_ABI
#include "platform/inspection_operations.inc"
#undef TESSARY_PLATFORM_OPERATIONS
