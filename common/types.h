// Types shared by every part of the tool.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// What the command line asked for. Only Add and Delete are produced; any other
// value reaching the setting editor leaves the setting alone.
enum class SettingAction : std::int32_t { Add = 0, Delete = 1 };

// One device: the scan's open device information set and the device's
// zero-based member index in it. Valid while the scan's set is open.
struct DeviceRef {
    platform::HDEVINFO Set;
    platform::DWORD Index;
};

// A fixed text buffer: at most TEXT_FIELD_UNITS - 1 code units of text and
// the terminating zero.
constexpr int TEXT_FIELD_UNITS = 260;

struct TextField {
    platform::WCHAR Text[TEXT_FIELD_UNITS];
};

// The driver setting that the tool adds and deletes.
inline constexpr platform::WCHAR SETTING_NAME[] = u"WapiSupport";
