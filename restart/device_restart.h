// Restarting one adapter by disabling and enabling it through its class
// installer.
#pragma once

#include "common/types.h"

// Disables the device and, once it reports as disabled, enables it again. A
// device that still runs after a disabling that asked for a restart has the
// disable pending until the next boot; it is enabled again too, which cancels
// it. False when the device may not be disabled, is already disabled, or a state
// change breaks off, and also when the device may be left disabled: its state
// cannot be read after the disabling, or the enabling's class-installer step
// fails. Prints "Need Restart Computer" when the platform asks for it.
platform::BOOL DisableEnableDevice(DeviceRef device);

// Asks the class installer for one state change (DICS_DISABLE or
// DICS_ENABLE). False when the device cannot be fetched, its parameters
// cannot be stored or its install parameters cannot be read afterwards; a
// failed class-installer step prints its line and still answers true.
platform::BOOL SetDeviceState(platform::DWORD stateChange, DeviceRef device);
