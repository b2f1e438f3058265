#include "discovery/device_probes.h"

#include "common/message_output.h"

using namespace platform;

BOOL FetchDevice(DeviceRef device, SP_DEVINFO_DATA* deviceInfo)
{
    *deviceInfo = SP_DEVINFO_DATA{};
    deviceInfo->cbSize = sizeof(*deviceInfo);
    if (!SetupDiEnumDeviceInfo(device.Set, device.Index, deviceInfo)) {
        PrintMessage("SetupDiEnumDeviceInfo FAILED\n");
        return FALSE;
    }
    return TRUE;
}

BOOL QueryDeviceStatus(DeviceRef device, DWORD* status, DWORD* problem)
{
    SP_DEVINFO_DATA deviceInfo;
    if (!FetchDevice(device, &deviceInfo)) {
        return FALSE;
    }
    if (CM_Get_DevNode_Status(status, problem, deviceInfo.DevInst, 0) != CR_SUCCESS) {
        PrintMessage("CM_GET_DevNode_Status FAILED\n");
        return FALSE;
    }
    return TRUE;
}

BOOL IsDisabledStatus(DWORD status, DWORD problem)
{
    return (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_DISABLED;
}

CONFIGRET ReadDisabled(DEVINST devInst, bool* disabled)
{
    DWORD status = 0;
    DWORD problem = 0;
    CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, devInst, 0);
    *disabled = result == CR_SUCCESS && IsDisabledStatus(status, problem) != FALSE;
    return result;
}

BOOL CanDisableDevice(DeviceRef device)
{
    DWORD status = 0;
    DWORD problem = 0;
    if (!QueryDeviceStatus(device, &status, &problem)) {
        return FALSE;
    }
    // The problem number counts even without DN_HAS_PROBLEM.
    return (status & DN_DISABLEABLE) != 0 && problem != CM_PROB_HARDWARE_DISABLED;
}

BOOL IsDeviceDisabled(DeviceRef device)
{
    DWORD status = 0;
    DWORD problem = 0;
    if (!QueryDeviceStatus(device, &status, &problem)) {
        return FALSE;
    }
    return IsDisabledStatus(status, problem);
}
