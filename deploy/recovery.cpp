#include "deploy/recovery.h"

#include "common/text_format.h"
#include "common/unicode.h"
#include "deploy/observer.h"
#include "discovery/device_probes.h"
#include "discovery/device_walk.h"
#include "discovery/property_reader.h"
#include "restart/device_restart.h"

using namespace platform;

namespace {

// Driver key names compare as the registry compares names: ASCII letters in
// either case.
bool SameName(const std::u16string& first, const WCHAR* second, DWORD length)
{
    return AsciiLowerCase(first) == AsciiLowerCase(std::u16string(second, length));
}

// The device's state as the log tells it.
std::string StateOf(DEVINST devInst)
{
    DWORD status = 0;
    DWORD problem = 0;
    CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, devInst, 0);
    if (result != CR_SUCCESS) {
        return "its state cannot be read (" + HexNumber(result, 8, true) + ")";
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

// The walk's visit of a device: when its driver key name is an entry's, the
// adapter is enabled again.
struct Recovering {
    const std::vector<JournalEntry>* Entries;
    std::vector<bool> Found; // by entry
    Recovery Result;
};

void RecoverAdapter(DeviceRef device, SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* buffer, void* context)
{
    auto* recovering = static_cast<Recovering*>(context);
    if (!ReadDeviceProperty(device.Set, deviceInfo, SPDRP_DRIVER, buffer)) {
        return;
    }
    for (std::size_t i = 0; i < recovering->Entries->size(); ++i) {
        const JournalEntry& entry = (*recovering->Entries)[i];
        if (recovering->Found[i] ||
            !SameName(entry.DriverKeyName, reinterpret_cast<const WCHAR*>(buffer->Block), PropertyTextLength(buffer))) {
            continue;
        }
        recovering->Found[i] = true;
        std::string name = "recovery: " + DescribeEntry(entry) + ", left by an interrupted run: ";
        std::string state = StateOf(deviceInfo->DevInst);
        std::size_t before = observer::StateChanges().size();
        (void)SetDeviceState(DICS_ENABLE, device);
        if (EnabledSince(deviceInfo->DevInst, before)) {
            ++recovering->Result.Enabled;
            recovering->Result.Lines.push_back(name + state + "; enabled again, " + Cleared(entry));
        } else {
            ++recovering->Result.Failed;
            recovering->Result.Lines.push_back(name + state +
                                               "; the class installer did not enable it, so its entry is kept");
        }
        return;
    }
}

} // namespace

Recovery RecoverInterruptedRestarts(const std::vector<JournalEntry>& entries)
{
    Recovering recovering = {&entries, std::vector<bool>(entries.size(), false), {}};
    if (!WalkPresentDevices(RecoverAdapter, &recovering)) {
        recovering.Result.Failed = entries.size();
        recovering.Result.Lines.push_back("recovery: the list of present devices cannot be opened (error " +
                                          std::to_string(GetLastError()) + "); the journal is kept");
        return recovering.Result;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!recovering.Found[i]) {
            recovering.Result.Lines.push_back("recovery: " + DescribeEntry(entries[i]) +
                                              ", left by an interrupted run: not present, so nothing to enable; " +
                                              Cleared(entries[i]));
        }
    }
    return recovering.Result;
}
