#include "discovery/property_reader.h"

#include "common/growing_read.h"

using namespace platform;

void ReleasePropertyBlock(PropertyBuffer* buffer)
{
    if (buffer->Block != nullptr) {
        LocalFree(buffer->Block);
    }
    buffer->Block = nullptr;
    buffer->Size = 0;
    buffer->Capacity = 0;
}

// Replaces the block with a zero-filled one of exactly the given size. On an
// allocation failure the buffer is left empty, with no size that no block backs.
static BOOL ReplacePropertyBlock(PropertyBuffer* buffer, DWORD bytes)
{
    ReleasePropertyBlock(buffer);
    buffer->Block = static_cast<BYTE*>(LocalAlloc(LPTR, bytes));
    if (buffer->Block == nullptr) {
        return FALSE;
    }
    buffer->Capacity = bytes;
    return TRUE;
}

// The whole code units the last successful read returned within the block.
static DWORD PropertyTextUnits(const PropertyBuffer* buffer)
{
    if (buffer->Block == nullptr) {
        return 0;
    }
    DWORD bytes = buffer->Size < buffer->Capacity ? buffer->Size : buffer->Capacity;
    return bytes / sizeof(WCHAR);
}

PropertyRead ReadDevicePropertyText(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property, PropertyBuffer* buffer)
{
    // The platform writes the required size into the same variable that
    // carries the size passed in, so the size passed is reset to the block's
    // real size before every call.
    DWORD failure = ERROR_SUCCESS;
    auto attempt = [&] {
        buffer->Size = buffer->Capacity;
        if (SetupDiGetDeviceRegistryPropertyW(set, deviceInfo, property, nullptr, buffer->Block, buffer->Size,
                                              &buffer->Size)) {
            return ReadTry::Done;
        }
        failure = GetLastError();
        return failure == ERROR_INSUFFICIENT_BUFFER ? ReadTry::NeedsRoom : ReadTry::Failed;
    };
    bool grown = true;
    auto grow = [&] {
        grown = ReplacePropertyBlock(buffer, buffer->Size) != FALSE;
        return grown;
    };
    if (!ReadGrowing(attempt, grow, MAX_PROPERTY_BLOCK_GROWTHS)) {
        // A platform that asks for room, but for none, has no text to give
        // (Wine answers so for an empty value read with no block). A block
        // that could not grow leaves no size behind, and tells nothing.
        bool empty = failure == ERROR_INSUFFICIENT_BUFFER && grown && buffer->Size == 0;
        return failure == ERROR_INVALID_DATA || empty ? PropertyRead::None : PropertyRead::Unreadable;
    }
    // Not empty: a whole first code unit that is not zero.
    return PropertyTextUnits(buffer) > 0 && reinterpret_cast<const WCHAR*>(buffer->Block)[0] != 0 ? PropertyRead::Text
                                                                                                  : PropertyRead::None;
}

BOOL ReadDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property, PropertyBuffer* buffer)
{
    return ReadDevicePropertyText(set, deviceInfo, property, buffer) == PropertyRead::Text;
}

DWORD PropertyTextLength(const PropertyBuffer* buffer)
{
    return BoundedTextLength(reinterpret_cast<const WCHAR*>(buffer->Block), PropertyTextUnits(buffer));
}

void CopyPropertyText(TextField* field, const PropertyBuffer* buffer)
{
    DWORD length = PropertyTextLength(buffer);
    if (length == 0) {
        field->Text[0] = 0;
        return;
    }
    // lstrcpynW reads at most count - 1 code units, so a count of the text's
    // length plus one never lets it read past the text's bound.
    int count = length < TEXT_FIELD_UNITS ? static_cast<int>(length) + 1 : TEXT_FIELD_UNITS;
    lstrcpynW(field->Text, reinterpret_cast<const WCHAR*>(buffer->Block), count);
}
