#include "restart/device_restart.h"

#include "common/message_output.h"
#include "discovery/device_probes.h"

using namespace platform;

// One state change; installerDone tells whether the class installer carried
// it out, which SetDeviceState's answer does not show.
static BOOL ChangeDeviceState(DWORD stateChange, DeviceRef device, BOOL* installerDone)
{
    *installerDone = FALSE;
    SP_DEVINFO_DATA deviceInfo = {};
    deviceInfo.cbSize = sizeof(deviceInfo);
    if (!SetupDiEnumDeviceInfo(device.Set, device.Index, &deviceInfo)) {
        PrintMessage("SetupDiEnumDeviceInfo FAILED\n");
        return FALSE;
    }

    // The parameters are stored twice, for the global scope and then for the
    // current hardware profile; the class installer acts on the last ones.
    SP_PROPCHANGE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof(params.ClassInstallHeader);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = stateChange;
    params.Scope = DICS_FLAG_GLOBAL;
    params.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsW(device.Set, &deviceInfo, &params.ClassInstallHeader, sizeof(params))) {
        PrintMessage("SetupDiSetClassInstallParams FAILED\n");
        return FALSE;
    }
    params.Scope = DICS_FLAG_CONFIGSPECIFIC;
    params.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsW(device.Set, &deviceInfo, &params.ClassInstallHeader, sizeof(params)) ||
        !SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, device.Set, &deviceInfo)) {
        PrintMessage("SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n");
        return TRUE;
    }
    *installerDone = TRUE;

    SP_DEVINSTALL_PARAMS_W installParams = {};
    installParams.cbSize = sizeof(installParams);
    if (!SetupDiGetDeviceInstallParamsW(device.Set, &deviceInfo, &installParams)) {
        PrintMessage("SetupDiGetDeviceInstallParams FAILED\n");
        return FALSE;
    }
    if ((installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
        PrintMessage("Need Restart Computer\n");
    }
    return TRUE;
}

BOOL SetDeviceState(DWORD stateChange, DeviceRef device)
{
    BOOL installerDone = FALSE;
    return ChangeDeviceState(stateChange, device, &installerDone);
}

BOOL DisableEnableDevice(DeviceRef device)
{
    if (!CanDisableDevice(device) || IsDeviceDisabled(device)) {
        return FALSE;
    }
    if (!SetDeviceState(DICS_DISABLE, device)) {
        return FALSE;
    }
    // The same questions as IsDeviceDisabled, but a state that cannot be read
    // is not taken for "not disabled": the adapter may be left disabled.
    DWORD status = 0;
    DWORD problem = 0;
    if (!QueryDeviceStatus(device, &status, &problem)) {
        return FALSE;
    }
    if (!IsDisabledStatus(status, problem)) {
        return TRUE; // the platform did not disable it; nothing to undo
    }
    BOOL enabled = FALSE;
    return ChangeDeviceState(DICS_ENABLE, device, &enabled) && enabled;
}
