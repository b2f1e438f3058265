#include "deploy/recovery.h"

#include "common/hex.h"
#include "deploy/observer.h"
#include "discovery/device_probes.h"
#include "discovery/property_reader.h"
#include "restart/device_restart.h"

using namespace platform;

namespace {

// Driver key names compare as the registry compares names: ASCII letters in
// either case.
bool SameName(const std::u16string& first, const WCHAR* second, DWORD length)
{
    auto fold = [](char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit - u'A' + u'a' : unit; };
    if (first.size() != length) {
        return false;
    }
    for (DWORD i = 0; i < length; ++i) {
        if (fold(first[i]) != fold(second[i])) {
            return false;
        }
    }
    return true;
}

// The member index of the present device whose driver key name is the
// entry's; false when none is.
bool FindAdapter(HDEVINFO set, const JournalEntry& entry, DWORD* found, DEVINST* devInst)
{
    PropertyBuffer buffer = {};
    SP_DEVINFO_DATA deviceInfo = {};
    deviceInfo.cbSize = sizeof(deviceInfo);
    bool matched = false;
    for (DWORD index = 0; !matched && SetupDiEnumDeviceInfo(set, index, &deviceInfo); ++index) {
        if (ReadDeviceProperty(set, &deviceInfo, SPDRP_DRIVER, &buffer) &&
            SameName(entry.DriverKeyName, reinterpret_cast<const WCHAR*>(buffer.Block), PropertyTextLength(&buffer))) {
            *found = index;
            *devInst = deviceInfo.DevInst;
            matched = true;
        }
    }
    ReleasePropertyBlock(&buffer);
    return matched;
}

// The device's state as the log tells it.
std::string StateOf(DEVINST devInst)
{
    DWORD status = 0;
    DWORD problem = 0;
    CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, devInst, 0);
    if (result != CR_SUCCESS) {
        return "its state cannot be read (" + HexCode(result) + ")";
    }
    return IsDisabledStatus(status, problem) ? "disabled" : "running, maybe with a disable pending until the next boot";
}

// Whether the class installer carried out an enable of the device since the
// observer's notes had count state changes.
bool EnabledSince(DEVINST devInst, std::size_t count)
{
    const std::vector<observer::StateChange>& changes = observer::StateChanges();
    for (std::size_t i = count; i < changes.size(); ++i) {
        if (changes[i].DevInst == devInst && changes[i].Change == DICS_ENABLE && changes[i].Done) {
            return true;
        }
    }
    return false;
}

std::string Cleared(const JournalEntry& entry)
{
    LSTATUS status = ClearRestart(entry.DriverKeyName);
    return status == ERROR_SUCCESS ? "its entry is cleared"
                                   : "its entry could not be cleared (error " + std::to_string(status) + ")";
}

} // namespace

Recovery RecoverInterruptedRestarts(const std::vector<JournalEntry>& entries)
{
    Recovery recovery;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        recovery.Failed = entries.size();
        recovery.Lines.push_back("recovery: the list of present devices cannot be opened (error " +
                                 std::to_string(GetLastError()) + "); the journal is kept");
        return recovery;
    }
    for (const JournalEntry& entry : entries) {
        std::string name = "recovery: " + DescribeEntry(entry) + ", left by an interrupted run: ";
        DWORD index = 0;
        DEVINST devInst = 0;
        if (!FindAdapter(set, entry, &index, &devInst)) {
            recovery.Lines.push_back(name + "not present, so nothing to enable; " + Cleared(entry));
            continue;
        }
        std::string state = StateOf(devInst);
        std::size_t before = observer::StateChanges().size();
        (void)SetDeviceState(DICS_ENABLE, DeviceRef{set, index});
        if (EnabledSince(devInst, before)) {
            ++recovery.Enabled;
            recovery.Lines.push_back(name + state + "; enabled again, " + Cleared(entry));
        } else {
            ++recovery.Failed;
            recovery.Lines.push_back(name + state + "; the class installer did not enable it, so its entry is kept");
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return recovery;
}
