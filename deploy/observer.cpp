#include "deploy/observer.h"

#include <algorithm>
#include <map>

#include "common/unicode.h"
#include "discovery/device_probes.h"
#include "platform/operations_table.h"
#include "setting/driver_setting.h"

namespace {

using namespace platform;

struct Notes {
    const Operations* Under = nullptr; // the table this layer passes each call on to
    bool Recording = false;
    bool Passing = false;
    std::vector<observer::FailedCall> Failed;
    std::vector<observer::StateChange> Changes;
    std::map<DEVINST, DWORD> Stored; // the state change last stored for a device
    bool RestartRequested = false;
    bool Journaling = false;
    std::vector<observer::JournaledRestart> Journaled;
    std::string Output;
    observer::UnlistedKeyVisitor OnUnlistedKey = nullptr;
    void* OnUnlistedKeyContext = nullptr;
};

Notes& Seen()
{
    static Notes notes;
    return notes;
}

const Operations& Under()
{
    return *Seen().Under;
}

// Notes a failure that leaves its error as the last error, which stays as it was.
void FailedWithLastError(const char* operation)
{
    if (Seen().Recording) {
        Seen().Failed.push_back({operation, Under().GetLastError(), false, Seen().Output.size()});
    }
}

template <class Code> Code Returned(const char* operation, Code code, bool configuration = false)
{
    if (code != 0 && Seen().Recording) {
        Seen().Failed.push_back({operation, static_cast<DWORD>(code), configuration, Seen().Output.size()});
    }
    return code;
}

observer::JournaledRestart* JournaledOf(DEVINST devInst)
{
    for (observer::JournaledRestart& restart : Seen().Journaled) {
        if (restart.DevInst == devInst) {
            return &restart;
        }
    }
    return nullptr;
}

// The restart recorded under a driver key name, compared as the registry
// compares names; of the devices not yet asked to disable when unclaimed.
observer::JournaledRestart* JournaledByName(const std::u16string& driverKeyName, bool unclaimed)
{
    for (observer::JournaledRestart& restart : Seen().Journaled) {
        if ((!unclaimed || restart.DevInst == 0) && SameIgnoringAsciiCase(restart.Entry.DriverKeyName, driverKeyName)) {
            return &restart;
        }
    }
    return nullptr;
}

observer::JournaledRestart NewRestart(DEVINST devInst, const JournalEntry& entry)
{
    observer::JournaledRestart restart;
    restart.DevInst = devInst;
    restart.Entry = entry;
    return restart;
}

// The driver key a journal entry names; empty when it names none (a name
// too long, or one that could not be read: an empty one would name the class
// key itself).
std::u16string KeyPathOf(const JournalEntry& entry)
{
    TextField path = {};
    return !entry.DriverKeyName.empty() && MakeDriverKeyPath(entry.DriverKeyName.c_str(), &path) ? path.Text : u"";
}

// An adapter's record with its key, below the local machine root, as it
// stands.
observer::JournaledRestart UnlistedRestart(const JournalEntry& entry, const std::u16string& keyPath)
{
    observer::JournaledRestart restart = NewRestart(0, entry);
    restart.Unlisted = true;
    restart.Before.KeyPath = keyPath;
    // The observer's own read: what it meets is not the tool's failure.
    bool recording = Seen().Recording;
    Seen().Recording = false;
    ReadSetting(&restart.Before);
    Seen().Recording = recording;
    return restart;
}

// A driver key the tool is about to open for writing that no entry names yet
// gets one, on disk, first; its key is read as it stands, for the log. The
// journal's error when the entry cannot be recorded; *which, the index of the
// key's record, or NOT_JOURNALED for a key that is no driver key opened to
// write.
constexpr std::size_t NOT_JOURNALED = static_cast<std::size_t>(-1);
LSTATUS JournalKeyToWrite(HKEY root, const WCHAR* subKey, REGSAM access, std::size_t* which)
{
    *which = NOT_JOURNALED;
    constexpr std::size_t PREFIX_UNITS = sizeof(DRIVER_KEY_PREFIX) / sizeof(WCHAR) - 1;
    Notes& notes = Seen();
    if (!notes.Recording || !notes.Journaling || root != HKEY_LOCAL_MACHINE || subKey == nullptr ||
        (access & KEY_SET_VALUE) == 0) {
        return ERROR_SUCCESS;
    }
    std::u16string path(subKey);
    if (path.size() < PREFIX_UNITS ||
        !SameIgnoringAsciiCase(path.data(), PREFIX_UNITS, DRIVER_KEY_PREFIX, PREFIX_UNITS)) {
        return ERROR_SUCCESS;
    }
    if (observer::JournaledRestart* known = JournaledByName(path.substr(PREFIX_UNITS), false)) {
        *which = static_cast<std::size_t>(known - notes.Journaled.data());
        bool first = known->Unlisted && !known->KeyOpened;
        known->KeyOpened = true;
        if (first && notes.OnUnlistedKey != nullptr) {
            notes.OnUnlistedKey(*known, notes.OnUnlistedKeyContext);
        }
        return ERROR_SUCCESS;
    }
    // No disable is asked for it yet: the entry says so until one is.
    observer::JournaledRestart restart = UnlistedRestart({path.substr(PREFIX_UNITS), u"", true}, path);
    restart.KeyOpened = true;
    restart.Recorded = RecordRestart(restart.Entry);
    *which = notes.Journaled.size();
    notes.Journaled.push_back(restart);
    if (restart.Recorded == ERROR_SUCCESS && notes.OnUnlistedKey != nullptr) {
        notes.OnUnlistedKey(restart, notes.OnUnlistedKeyContext);
    }
    return restart.Recorded;
}

// Clears the entry of a device enabled again and running once its install
// parameters after the enable show that Windows asked for no restart of the
// computer after any state change of the device since recording began (the
// recovery's enable included). One it asked for keeps its entry
// until the run's outcome is known: a run cut short before then leaves the
// restart to the next run, which asks for it again.
void ClearOnceRestarted(DEVINST devInst, const observer::StateChange& enable)
{
    Notes& notes = Seen();
    observer::JournaledRestart* restart = notes.Journaling ? JournaledOf(devInst) : nullptr;
    if (restart == nullptr || enable.Change != DICS_ENABLE || !enable.Done || !restart->Enabled || restart->Kept ||
        restart->ClearTried) {
        return;
    }
    if (observer::RestartRequested(devInst)) {
        // Running again, it waits only for the computer's restart: should
        // the run be cut short before it answers, the entry says so, and no
        // later run enables the adapter for it (its user may disable it
        // meanwhile).
        if (!restart->OwesComputer) {
            JournalEntry owed = restart->Entry;
            owed.KeyOnly = false;
            owed.ComputerRestart = true;
            restart->OwesComputer = true;
            restart->OwedRecorded = RecordRestartOnceEnabled(owed);
        }
        return;
    }
    restart->ClearTried = true;
    restart->Cleared = ClearRestartOnceEnabled(restart->Entry.DriverKeyName, &restart->Unflushed);
}

} // namespace

namespace observer {

void Reset()
{
    const Operations* under = Seen().Under;
    Seen() = Notes{};
    Seen().Under = under;
}

void Record(bool on)
{
    Seen().Recording = on;
}

const std::vector<FailedCall>& FailedCalls()
{
    return Seen().Failed;
}

const std::vector<StateChange>& StateChanges()
{
    return Seen().Changes;
}

bool RestartRequested()
{
    return Seen().RestartRequested;
}

bool RestartUnknown(DEVINST devInst)
{
    const std::vector<StateChange>& changes = Seen().Changes;
    auto last = std::find_if(changes.rbegin(), changes.rend(),
                             [&](const StateChange& change) { return change.DevInst == devInst && change.Done; });
    return last != changes.rend() && last->Change == DICS_ENABLE && !last->ParamsRead;
}

bool RestartRequested(DEVINST devInst)
{
    const std::vector<StateChange>& changes = Seen().Changes;
    return RestartUnknown(devInst) || std::any_of(changes.begin(), changes.end(), [&](const StateChange& change) {
               return change.DevInst == devInst && change.RestartAsked;
           });
}

bool RestartUnknown()
{
    const std::vector<StateChange>& changes = Seen().Changes;
    return std::any_of(changes.begin(), changes.end(),
                       [](const StateChange& change) { return RestartUnknown(change.DevInst); });
}

void KeepJournal(bool on)
{
    Seen().Journaling = on;
}

void Journaled(DEVINST devInst, const JournalEntry& entry)
{
    Seen().Journaled.push_back(NewRestart(devInst, entry));
}

const JournaledRestart& JournaledOwed(const JournalEntry& entry)
{
    Seen().Journaled.push_back(UnlistedRestart(entry, KeyPathOf(entry)));
    Seen().Journaled.back().Owed = true;
    return Seen().Journaled.back();
}

const std::vector<JournaledRestart>& JournaledRestarts()
{
    return Seen().Journaled;
}

void OnUnlistedKey(UnlistedKeyVisitor visit, void* context)
{
    Seen().OnUnlistedKey = visit;
    Seen().OnUnlistedKeyContext = context;
}

void PassOutput(bool on)
{
    Seen().Passing = on;
}

const std::string& Output()
{
    return Seen().Output;
}

} // namespace observer

// The layer's operations: each passes the call on to the table beneath and
// notes what the deployment needs.
namespace observed {

using namespace platform;

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent, DWORD flags)
{
    HDEVINFO set = Under().SetupDiGetClassDevsW(classGuid, enumerator, parent, flags);
    if (set == INVALID_HANDLE_VALUE) {
        FailedWithLastError("SetupDiGetClassDevsW");
    }
    return set;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfo)
{
    BOOL found = Under().SetupDiEnumDeviceInfo(set, memberIndex, deviceInfo);
    if (!found && Under().GetLastError() != ERROR_NO_MORE_ITEMS) {
        FailedWithLastError("SetupDiEnumDeviceInfo");
    }
    return found;
}

CONFIGRET CM_Get_DevNode_Status(DWORD* status, DWORD* problemNumber, DEVINST devInst, DWORD flags)
{
    return Returned("CM_Get_DevNode_Status", Under().CM_Get_DevNode_Status(status, problemNumber, devInst, flags),
                    true);
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize)
{
    BOOL read = Under().SetupDiGetDeviceRegistryPropertyW(set, deviceInfo, property, propertyRegDataType,
                                                          propertyBuffer, propertyBufferSize, requiredSize);
    DWORD error = read ? ERROR_SUCCESS : Under().GetLastError();
    if (!read && error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_INVALID_DATA) {
        FailedWithLastError("SetupDiGetDeviceRegistryPropertyW");
    }
    return read;
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                   SP_CLASSINSTALL_HEADER* classInstallParams, DWORD classInstallParamsSize)
{
    BOOL stored = Under().SetupDiSetClassInstallParamsW(set, deviceInfo, classInstallParams, classInstallParamsSize);
    if (!stored) {
        FailedWithLastError("SetupDiSetClassInstallParamsW");
    } else if (deviceInfo != nullptr && classInstallParamsSize >= sizeof(SP_PROPCHANGE_PARAMS)) {
        Seen().Stored[deviceInfo->DevInst] =
            reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(classInstallParams)->StateChange;
    }
    return stored;
}

BOOL SetupDiCallClassInstaller(UINT installFunction, HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    Notes& notes = Seen();
    bool stored = deviceInfo != nullptr && notes.Stored.count(deviceInfo->DevInst) != 0;
    DWORD change = stored ? notes.Stored[deviceInfo->DevInst] : 0;
    bool journaling = notes.Recording && notes.Journaling && stored;
    // The journal holds the adapter, on disk, before it may be disabled.
    if (journaling && change == DICS_DISABLE) {
        observer::JournaledRestart* restart = JournaledOf(deviceInfo->DevInst);
        bool onDisk =
            restart != nullptr && restart->Recorded == ERROR_SUCCESS && !restart->Enabled && !restart->Entry.KeyOnly;
        if (restart == nullptr) {
            // One recorded when its key was opened is claimed by the device,
            // and recorded again with its instance ID.
            JournalEntry entry = JournalEntryOf(set, deviceInfo);
            restart = JournaledByName(entry.DriverKeyName, true);
            if (restart == nullptr || entry.DriverKeyName.empty()) {
                // Neither recorded before the run nor opened by the tool (its
                // driver key name too long to name a key, say): the outcome
                // judges it with the others all the same.
                notes.Journaled.push_back(UnlistedRestart(entry, KeyPathOf(entry)));
                restart = &notes.Journaled.back();
            }
            restart->DevInst = deviceInfo->DevInst;
            restart->Entry = entry;
        }
        if (!onDisk) {
            // A restart of its own: the entry goes on disk again, if it can,
            // as one whose adapter may be disabled.
            restart->Entry.KeyOnly = false;
            restart->Disabled = false;
            restart->Enabled = false;
            restart->Kept = false;
            restart->ClearTried = false;
            restart->OwesComputer = false;
            restart->Recorded = restart->Entry.DriverKeyName.empty() ? static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)
                                                                     : RecordRestart(restart->Entry);
        }
        if (restart->Recorded != ERROR_SUCCESS) {
            // The tool sees the class installer fail with the journal's error;
            // the log has the failed write already, and FinishJournal names it.
            Under().Inspection->SetLastError(static_cast<DWORD>(restart->Recorded));
            notes.Changes.push_back({deviceInfo->DevInst, change, false});
            return FALSE;
        }
    }
    BOOL done = Under().SetupDiCallClassInstaller(installFunction, set, deviceInfo);
    if (!done) {
        FailedWithLastError("SetupDiCallClassInstaller");
    }
    if (notes.Recording && stored) {
        notes.Changes.push_back({deviceInfo->DevInst, change, done != FALSE});
    }
    observer::JournaledRestart* restart = journaling && done ? JournaledOf(deviceInfo->DevInst) : nullptr;
    if (restart != nullptr && change == DICS_DISABLE) {
        restart->Disabled = true;
    } else if (restart != nullptr && change == DICS_ENABLE && restart->Disabled && !restart->Enabled) {
        restart->Enabled = true;
        // The class installer may answer for an enable that leaves the
        // device disabled (its driver's own installer ignoring it): the
        // entry goes once the device reads enabled.
        bool disabled = false;
        restart->StateRead = ReadDisabled(deviceInfo->DevInst, &disabled);
        restart->Kept = restart->StateRead != CR_SUCCESS || disabled;
    }
    return done;
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams)
{
    BOOL read = Under().SetupDiGetDeviceInstallParamsW(set, deviceInfo, deviceInstallParams);
    if (!read) {
        FailedWithLastError("SetupDiGetDeviceInstallParamsW");
    }
    bool restart = read && (deviceInstallParams->Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0;
    Seen().RestartRequested = Seen().RestartRequested || (Seen().Recording && restart);
    // They follow the device's last state change. Unread after an enable,
    // they may have asked for a restart of the computer: the entry says so,
    // as it does for one they show.
    std::vector<observer::StateChange>& changes = Seen().Changes;
    auto last = std::find_if(changes.rbegin(), changes.rend(), [&](const observer::StateChange& change) {
        return deviceInfo != nullptr && change.DevInst == deviceInfo->DevInst;
    });
    if (Seen().Recording && last != changes.rend() && (read || !last->ParamsRead)) {
        last->ParamsRead = last->ParamsRead || read;
        last->RestartAsked = last->RestartAsked || restart;
        ClearOnceRestarted(deviceInfo->DevInst, *last);
    }
    return read;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    BOOL destroyed = Under().SetupDiDestroyDeviceInfoList(set);
    if (!destroyed) {
        FailedWithLastError("SetupDiDestroyDeviceInfoList");
    }
    return destroyed;
}

LSTATUS RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM samDesired, HKEY* result)
{
    std::size_t which = NOT_JOURNALED;
    LSTATUS journaled = JournalKeyToWrite(key, subKey, samDesired, &which);
    if (journaled != ERROR_SUCCESS) {
        // The key is not opened, and nothing written, without its entry.
        return Returned("RegOpenKeyExW", journaled);
    }
    LSTATUS opened = Under().RegOpenKeyExW(key, subKey, options, samDesired, result);
    if (opened == ERROR_SUCCESS && which != NOT_JOURNALED) {
        Seen().Journaled[which].KeyWritable = true;
    }
    return Returned("RegOpenKeyExW", opened);
}

LSTATUS RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize)
{
    return Returned("RegSetValueExW", Under().RegSetValueExW(key, valueName, reserved, type, data, dataSize));
}

LSTATUS RegDeleteValueW(HKEY key, const WCHAR* valueName)
{
    return Returned("RegDeleteValueW", Under().RegDeleteValueW(key, valueName));
}

LSTATUS RegCloseKey(HKEY key)
{
    return Returned("RegCloseKey", Under().RegCloseKey(key));
}

WCHAR* lstrcpynW(WCHAR* destination, const WCHAR* source, int maxLength)
{
    return Under().lstrcpynW(destination, source, maxLength);
}

int lstrcmpW(const WCHAR* first, const WCHAR* second)
{
    return Under().lstrcmpW(first, second);
}

WCHAR* lstrcatW(WCHAR* destination, const WCHAR* source)
{
    return Under().lstrcatW(destination, source);
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL block = Under().LocalAlloc(flags, bytes);
    if (block == nullptr) {
        FailedWithLastError("LocalAlloc");
    }
    return block;
}

HLOCAL LocalFree(HLOCAL memory)
{
    HLOCAL left = Under().LocalFree(memory);
    if (left != nullptr) {
        FailedWithLastError("LocalFree");
    }
    return left;
}

DWORD GetLastError()
{
    return Under().GetLastError();
}

void WriteStandardOutput(const char* text, SIZE_T length)
{
    Seen().Output.append(text, length);
    if (Seen().Passing) {
        Under().WriteStandardOutput(text, length);
    }
}

LSTATUS RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize)
{
    return Under().Inspection->RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
}

LSTATUS CheckKeyAccess(HKEY root, const WCHAR* subKey, REGSAM access, BOOL* granted)
{
    return Under().Inspection->CheckKeyAccess(root, subKey, access, granted);
}

BOOL IsProcessElevated()
{
    return Under().Inspection->IsProcessElevated();
}

void SetLastError(DWORD error)
{
    Under().Inspection->SetLastError(error);
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, WCHAR* id, DWORD idSize,
                                 DWORD* requiredSize)
{
    return Under().Inspection->SetupDiGetDeviceInstanceIdW(set, deviceInfo, id, idSize, requiredSize);
}

LSTATUS RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass, DWORD options,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition)
{
    return Returned("RegCreateKeyExW", Under().Inspection->RegCreateKeyExW(key, subKey, reserved, keyClass, options,
                                                                           samDesired, security, result, disposition));
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* nameSize, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* dataSize)
{
    return Under().Inspection->RegEnumValueW(key, index, valueName, nameSize, reserved, type, data, dataSize);
}

LSTATUS RegFlushKey(HKEY key)
{
    return Returned("RegFlushKey", Under().Inspection->RegFlushKey(key));
}

} // namespace observed

namespace observer {

const Operations& ObservedOperations(const Operations& under)
{
    Seen().Under = &under;
#define TESSARY_BACKEND observed
#include "platform/backend_tables.inc"
#undef TESSARY_BACKEND
}

} // namespace observer
