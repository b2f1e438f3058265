// The scenario devices registered with the real SetupAPI.
#include "tests/windows/property_scenarios.h"

#include <initguid.h>

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

bool OpenScenarioDevices(ScenarioDevices* devices)
{
    HDEVINFO set = ::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_NET, nullptr);
    devices->Set = set;
    const wchar_t description[] = L"Corvane AX210 Wireless";
    const BYTE unterminated[] = {'N', 0, 'e', 0, 't', 0, 'x'};
    const BYTE* data[2] = {reinterpret_cast<const BYTE*>(description), unterminated};
    const DWORD sizes[2] = {sizeof(description), sizeof(unterminated)};
    for (int i = 0; i < 2; ++i) {
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

void SetLastErrorForScenario(platform::DWORD error)
{
    ::SetLastError(error);
}
