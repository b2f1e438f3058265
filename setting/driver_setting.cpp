#include "setting/driver_setting.h"

#include <cstring>

#include "common/message_output.h"
#include "common/text_field.h"

using namespace platform;

BOOL MakeDriverKeyPath(const WCHAR* driverKeyName, TextField* keyPath)
{
    if (BoundedTextLength(driverKeyName, MAX_DRIVER_KEY_NAME_UNITS + 1) > MAX_DRIVER_KEY_NAME_UNITS) {
        return FALSE;
    }
    std::memcpy(keyPath->Text, DRIVER_KEY_PREFIX, sizeof(DRIVER_KEY_PREFIX));
    lstrcatW(keyPath->Text, driverKeyName);
    return TRUE;
}

void UpdateDriverSetting(SettingAction action, const WCHAR* driverKeyName)
{
    // Refused rather than cut short: a cut name names a different key.
    TextField keyPath = {};
    if (!MakeDriverKeyPath(driverKeyName, &keyPath)) {
        PrintMessage("ERROR: Driver key name too long!!\n");
        return;
    }
    PrintMessage("Full Driver Key=%ws\n", keyPath.Text);

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.Text, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        PrintMessage("ERROR: Open registry error!!\n");
        return;
    }
    if (action == SettingAction::Add) {
        // The text "1" without its terminating zero: two bytes, length 2.
        // The registry looks at the code unit right after a text's size and,
        // when it is zero, stores that terminator too; the non-zero unit
        // after the two bytes keeps that look inside this array and the
        // stored value at exactly the two bytes.
        static const BYTE enabled[] = {0x31, 0x00, 0xFF, 0xFF};
        constexpr DWORD ENABLED_BYTES = 2;
        if (RegSetValueExW(key, SETTING_NAME, 0, REG_SZ, enabled, ENABLED_BYTES) != ERROR_SUCCESS) {
            PrintMessage("ERROR: Add parameter %ws failed!!\n", SETTING_NAME);
        }
    } else if (action == SettingAction::Delete) {
        if (RegDeleteValueW(key, SETTING_NAME) != ERROR_SUCCESS) {
            PrintMessage("ERROR: Delete parameter %ws failed!!\n", SETTING_NAME);
        }
    }
    RegCloseKey(key);
}
