// The walk over every present device and the choice of adapters to act on.
#pragma once

#include "common/types.h"

// Walks every present device by member index and, for each wireless network
// adapter of the vendor that is not disabled by the user, edits its driver
// setting and then restarts it. Prints "DisableEnableDevice FAILED" when a
// restart answers false; passes over other devices, and a device list that
// cannot be opened, without a word.
void ScanWirelessAdapters(SettingAction action);

// The selection's tests on a device's texts, as the scan holds them (each
// copied into a text field, so cut to TEXT_FIELD_UNITS - 1 code units): the
// scan picks a device of setup class Net, on one of these buses, whose
// description begins with the vendor's word and holds a wireless word, in
// these letter cases, and that is not disabled. Whoever explains the choice
// asks the same questions of the same copies.
platform::BOOL IsAdapterBus(const platform::WCHAR* enumerator);
platform::BOOL BeginsWithVendor(const platform::WCHAR* description);
platform::BOOL NamesWireless(const platform::WCHAR* description);

// What EnumWirelessAdapters calls for each adapter it picks: the device, its
// record as the walk fetched it, and its driver key name as the scan holds it
// (at most TEXT_FIELD_UNITS - 1 code units). The set stays open meanwhile.
using WirelessAdapterCallback = void (*)(DeviceRef device, const platform::SP_DEVINFO_DATA* deviceInfo,
                                         const platform::WCHAR* driverKeyName, void* context);

// Walks the present devices as ScanWirelessAdapters does, with the same calls
// and the same choice, and calls back for each adapter it picks, in member
// index order, before it fetches the next index. False when the device list
// cannot be opened. endError: as WalkPresentDevices's (the tool's own scan
// does not ask).
platform::BOOL EnumWirelessAdapters(WirelessAdapterCallback callback, void* context,
                                    platform::DWORD* endError = nullptr);

// The scan's work on one adapter it picked: edits its driver setting, then
// restarts it, and prints "DisableEnableDevice FAILED" when the restart
// answers false. Answers the restart's answer.
platform::BOOL EditAndRestartAdapter(SettingAction action, DeviceRef device, const platform::WCHAR* driverKeyName);
