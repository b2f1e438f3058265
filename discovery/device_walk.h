// The walk over every present device, which the scan and the programs around
// the tool share.
#pragma once

#include "common/types.h"
#include "discovery/property_reader.h"

// What WalkPresentDevices calls for each device: the device (the walk's set
// and its member index), its record as the walk fetched it, and the walk's
// property buffer, lent for the device's reads.
using PresentDeviceVisitor = void (*)(DeviceRef device, platform::SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* buffer,
                                      void* context);

// Opens one set of every present device of every setup class, fetches the
// devices by member index, 0 upward, into one record (its size set, the rest
// zero before the first fetch), until the platform has none at the next
// index, whatever the reason, and calls visit for each before it fetches the
// next. Then frees the buffer's block, if any, and destroys the set. FALSE
// when the set cannot be opened; nothing is visited then, and the platform's
// last error is the open's. With endError, the walk also asks for the last
// error of the fetch that found no device, and stores it there:
// ERROR_NO_MORE_ITEMS when it saw every device, another when the walk was cut
// short.
platform::BOOL WalkPresentDevices(PresentDeviceVisitor visit, void* context, platform::DWORD* endError = nullptr);
