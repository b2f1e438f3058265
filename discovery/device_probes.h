// Questions about one device's state at the moment of asking.
#pragma once

#include "common/types.h"

// Fetches the device afresh by its member index into a new record (its size
// set, the rest zero). Prints "SetupDiEnumDeviceInfo FAILED" and answers
// false when it cannot.
platform::BOOL FetchDevice(DeviceRef device, platform::SP_DEVINFO_DATA* deviceInfo);

// Fetches the device afresh by its member index and queries its status flags
// and problem number. Prints "SetupDiEnumDeviceInfo FAILED" or
// "CM_GET_DevNode_Status FAILED" and answers false when either step fails.
platform::BOOL QueryDeviceStatus(DeviceRef device, platform::DWORD* status, platform::DWORD* problem);

// True when a status pair says the device was disabled by the user.
platform::BOOL IsDisabledStatus(platform::DWORD status, platform::DWORD problem);

// Reads, printing nothing, whether a device is disabled by the user: the
// status query's answer, and *disabled (false when it failed).
platform::CONFIGRET ReadDisabled(platform::DEVINST devInst, bool* disabled);

// True when the device may be disabled now: it is disableable and not
// disabled by its hardware. False, with a printed line, when its state
// cannot be read.
platform::BOOL CanDisableDevice(DeviceRef device);

// True when the device is disabled by the user. False, with a printed line,
// when its state cannot be read.
platform::BOOL IsDeviceDisabled(DeviceRef device);
