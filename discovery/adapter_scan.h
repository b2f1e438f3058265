// The walk over every present device and the choice of adapters to act on.
#pragma once

#include "common/types.h"

// Walks every present device by member index and, for each wireless network
// adapter of the vendor that is not disabled by the user, edits its driver
// setting and then restarts it. Prints "DisableEnableDevice FAILED" when a
// restart answers false; passes over other devices, and a device list that
// cannot be opened, without a word.
void ScanWirelessAdapters(SettingAction action);
