#include "restart/device_restart.h"

#include "common/message_output.h"
#include "discovery/device_probes.h"

using namespace platform;

namespace {

// What one state change came to, beyond SetDeviceState's answer: whether the
// class installer carried it out, and whether the platform then asked for a
// restart of the computer.
struct StateChangeOutcome {
    BOOL InstallerDone;
    BOOL RestartRequested;
};

BOOL ChangeDeviceState(DWORD stateChange, DeviceRef device, StateChangeOutcome* outcome)
{
    *outcome = StateChangeOutcome{FALSE, FALSE};
    SP_DEVINFO_DATA deviceInfo;
    if (!FetchDevice(device, &deviceInfo)) {
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
    outcome->InstallerDone = TRUE;

    SP_DEVINSTALL_PARAMS_W installParams = {};
    installParams.cbSize = sizeof(installParams);
    if (!SetupDiGetDeviceInstallParamsW(device.Set, &deviceInfo, &installParams)) {
        PrintMessage("SetupDiGetDeviceInstallParams FAILED\n");
        return FALSE;
    }
    if ((installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
        PrintMessage("Need Restart Computer\n");
        outcome->RestartRequested = TRUE;
    }
    return TRUE;
}

} // namespace

BOOL SetDeviceState(DWORD stateChange, DeviceRef device)
{
    StateChangeOutcome outcome = {};
    return ChangeDeviceState(stateChange, device, &outcome);
}

BOOL DisableEnableDevice(DeviceRef device)
{
    if (!CanDisableDevice(device) || IsDeviceDisabled(device)) {
        return FALSE;
    }
    StateChangeOutcome disabling = {};
    if (!ChangeDeviceState(DICS_DISABLE, device, &disabling)) {
        return FALSE;
    }
    // The same questions as IsDeviceDisabled, but a state that cannot be read
    // is not taken for "not disabled": the adapter may be left disabled.
    DWORD status = 0;
    DWORD problem = 0;
    if (!QueryDeviceStatus(device, &status, &problem)) {
        return FALSE;
    }
    // A device that still runs after a disabling that asked for a restart
    // has its disable pending until the next boot (its driver refused to
    // stop): enabling it now cancels that, so a reboot does not leave the
    // adapter off. A device that still runs without such a request was not
    // disabled at all, and there is nothing to undo.
    if (!IsDisabledStatus(status, problem) && !disabling.RestartRequested) {
        return TRUE;
    }
    StateChangeOutcome enabling = {};
    return ChangeDeviceState(DICS_ENABLE, device, &enabling) && enabling.InstallerDone;
}
