// The scenarios' devices and keys on the real SetupAPI and registry.
#include "tests/windows/platform_scenarios.h"

#include "platform/win/windows_operations.h"

#include <initguid.h>

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <string>

namespace {

const wchar_t* Wide(const platform::WCHAR* text)
{
    return reinterpret_cast<const wchar_t*>(text);
}

} // namespace

bool OpenScenarioPlatform(ScenarioDevices* devices)
{
    platform::UseOperations(&platform::WindowsOperations());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(SCENARIO_KEY));
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(SCENARIO_KEY), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);

    HDEVINFO set = ::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_NET, nullptr);
    devices->Set = set;
    const wchar_t description[] = L"Corvane AX210 Wireless";
    const BYTE unterminated[] = {'N', 0, 'e', 0, 't', 0, 'x'};
    const BYTE empty[] = {0, 0};
    const BYTE* data[SCENARIO_DEVICES] = {reinterpret_cast<const BYTE*>(description), unterminated, empty, empty};
    const DWORD sizes[SCENARIO_DEVICES] = {sizeof(description), sizeof(unterminated), sizeof(empty), 0};
    for (int i = 0; i < SCENARIO_DEVICES; ++i) {
        auto* info = reinterpret_cast<::SP_DEVINFO_DATA*>(&devices->Info[i]);
        info->cbSize = sizeof(::SP_DEVINFO_DATA);
        if (!::SetupDiCreateDeviceInfoW(set, L"TESSARYTEST", &GUID_DEVCLASS_NET, nullptr, nullptr, DICD_GENERATE_ID,
                                        info) ||
            !::SetupDiRegisterDeviceInfo(set, info, 0, nullptr, nullptr, nullptr) ||
            !::SetupDiSetDeviceRegistryPropertyW(set, info, SPDRP_DEVICEDESC, data[i], sizes[i])) {
            return false;
        }
    }
    return true;
}

void CloseScenarioDevices(ScenarioDevices* devices)
{
    for (auto& info : devices->Info) {
        ::SetupDiRemoveDevice(devices->Set, reinterpret_cast<::SP_DEVINFO_DATA*>(&info));
    }
    ::SetupDiDestroyDeviceInfoList(devices->Set);
}

void CloseScenarioPlatform()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(SCENARIO_KEY));
}

void SetLastErrorForScenario(platform::DWORD error)
{
    ::SetLastError(error);
}

bool ReadScenarioValue(const platform::WCHAR* name, platform::DWORD* type, std::vector<std::uint8_t>* data)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(SCENARIO_KEY), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    BYTE buffer[64];
    DWORD size = sizeof(buffer);
    DWORD valueType = 0;
    LONG status = ::RegQueryValueExW(key, Wide(name), nullptr, &valueType, buffer, &size);
    data->assign(buffer, buffer + (status == ERROR_SUCCESS ? size : 0));
    *type = valueType;
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}
