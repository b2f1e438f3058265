// The driver setting in one adapter's driver key.
#pragma once

#include "common/types.h"

// The key below the local machine root under which every driver key lies.
inline constexpr platform::WCHAR DRIVER_KEY_PREFIX[] = u"SYSTEM\\CurrentControlSet\\Control\\Class\\";

// The longest driver key name that fits the key path after its fixed prefix.
constexpr platform::DWORD MAX_DRIVER_KEY_NAME_UNITS = TEXT_FIELD_UNITS - 1 - (sizeof(DRIVER_KEY_PREFIX) / 2 - 1);
static_assert(MAX_DRIVER_KEY_NAME_UNITS == 220, "the prefix takes 39 of the path's 259 code units");

// Fills keyPath with "SYSTEM\CurrentControlSet\Control\Class\<driverKeyName>",
// the key below the local machine root that the name stands for. FALSE, with
// the field left as it was, when the name is too long for the path: a cut
// name would name a different key.
platform::BOOL MakeDriverKeyPath(const platform::WCHAR* driverKeyName, TextField* keyPath);

// Adds (Add) or deletes (Delete) the setting in the driver key
// "SYSTEM\CurrentControlSet\Control\Class\<driverKeyName>" below the local
// machine root; any other action opens and closes the key and changes nothing.
// Prints the full key path first, then one "ERROR: ...!!" line for a failure.
// A driver key name too long for the key path is refused, with one line,
// before anything is opened. The caller does not learn the outcome.
void UpdateDriverSetting(SettingAction action, const platform::WCHAR* driverKeyName);
