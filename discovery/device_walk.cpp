#include "discovery/device_walk.h"

using namespace platform;

BOOL WalkPresentDevices(PresentDeviceVisitor visit, void* context, DWORD* endError)
{
    PropertyBuffer buffer = {};
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    // One record serves every index: the platform fills it afresh each time.
    SP_DEVINFO_DATA deviceInfo = {};
    deviceInfo.cbSize = sizeof(deviceInfo);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &deviceInfo); ++index) {
        visit(DeviceRef{set, index}, &deviceInfo, &buffer, context);
    }
    if (endError != nullptr) {
        *endError = GetLastError();
    }
    ReleasePropertyBlock(&buffer);
    SetupDiDestroyDeviceInfoList(set);
    return TRUE;
}
