// The driver setting in one adapter's driver key.
#pragma once

#include "common/types.h"

// The longest driver key name that fits the key path after its fixed prefix.
constexpr platform::DWORD MAX_DRIVER_KEY_NAME_UNITS = 220;

// Adds (Add) or deletes (Delete) the setting in the driver key
// "SYSTEM\CurrentControlSet\Control\Class\<driverKeyName>" below the local
// machine root; any other action opens and closes the key and changes nothing.
// Prints the full key path first, then one "ERROR: ...!!" line for a failure.
// A driver key name too long for the key path is refused, with one line,
// before anything is opened. The caller does not learn the outcome.
void UpdateDriverSetting(SettingAction action, const platform::WCHAR* driverKeyName);
