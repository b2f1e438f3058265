// Reading device properties into one growing heap block.
#pragma once

#include "common/text_field.h"
#include "common/types.h"

// The one heap block through which every device property of a scan is read.
// Size is the variable handed to the platform: the byte size passed in, and
// the size the platform reports back (required or returned). Capacity is the
// block's real size, kept apart because the platform overwrites Size.
struct PropertyBuffer {
    platform::BYTE* Block;
    platform::DWORD Size;
    platform::DWORD Capacity;
};

// How often one read may replace the block before the property counts as not
// readable; a platform that keeps asking for room must not hang the tool.
constexpr int MAX_PROPERTY_BLOCK_GROWTHS = 4;

// Reads one property of a device into the buffer, replacing the block with a
// zero-filled one of exactly the size the platform asks for whenever it asks
// for more room. True when the read succeeded and its text is not empty; the
// text then stands at the start of the block. Prints nothing.
platform::BOOL ReadDeviceProperty(platform::HDEVINFO set, platform::SP_DEVINFO_DATA* deviceInfo,
                                  platform::DWORD property, PropertyBuffer* buffer);

// What a property read came to, where it matters why there is no text: the
// device has none (the platform answers ERROR_INVALID_DATA for a property a
// device does not have, or the text is empty, or it asks for room but for
// none), or it could not be read (any other error, a block that could not
// grow, a platform that kept asking for room).
enum class PropertyRead { Text, None, Unreadable };

// ReadDeviceProperty, telling None from Unreadable; the same calls.
PropertyRead ReadDevicePropertyText(platform::HDEVINFO set, platform::SP_DEVINFO_DATA* deviceInfo,
                                    platform::DWORD property, PropertyBuffer* buffer);

// The length, in code units, of the text of the last successful read: up to
// its first zero code unit, bounded by the bytes the platform returned and by
// the block (a last odd byte is not part of it).
platform::DWORD PropertyTextLength(const PropertyBuffer* buffer);

// Copies the text of the last successful read into the field, truncated to
// the field's size.
void CopyPropertyText(TextField* field, const PropertyBuffer* buffer);

// Frees the block, if any, and leaves the buffer empty.
void ReleasePropertyBlock(PropertyBuffer* buffer);
