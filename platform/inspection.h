// What the pre-flight asks of the platform beyond what the tool calls, to take
// a read-only picture of a machine: a registry value, whether a key would be
// opened for an access without opening it for that access, whether the
// process runs elevated, and setting the last error before a call that may
// leave it as it was. Each backend implements these beside platform.h's.
#pragma once

#include "platform/platform.h"

namespace platform {
inline namespace TESSARY_PLATFORM_ABI {

constexpr REGSAM KEY_READ = 0x20019;
constexpr DWORD DN_NEED_RESTART = 0x100; // status flag: the device waits for a restart of the computer
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_MORE_DATA = 234;

// Reads a value of an open key: its type and data. With no data buffer,
// answers the size only; a buffer too small gives ERROR_MORE_DATA and the
// size needed.
LSTATUS RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);

// Whether this process would be granted the access to a key below root,
// judged from the key's security against the process's token (an access
// check), so that the key is opened for reading its security only. Answers
// the registry's status; *granted is set when that is ERROR_SUCCESS.
LSTATUS CheckKeyAccess(HKEY root, const WCHAR* subKey, REGSAM access, BOOL* granted);

// True when the process runs with an administrator's full token.
BOOL IsProcessElevated();

// Sets the error that GetLastError answers next.
void SetLastError(DWORD error);

} // namespace TESSARY_PLATFORM_ABI
} // namespace platform
