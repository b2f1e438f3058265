#include "preflight/journal.h"

#include <algorithm>

#include "common/growing_read.h"
#include "common/unicode.h"
#include "discovery/device_walk.h"
#include "discovery/property_reader.h"
#include "platform/inspection.h"
#include "preflight/compliance.h"
#include "setting/driver_setting.h"

using namespace platform;

namespace {

// The longest value name the registry allows, and its terminator.
constexpr DWORD MAX_VALUE_NAME_UNITS = 16384;
// The room an instance ID usually takes (MAX_DEVICE_ID_LEN).
constexpr DWORD MAX_DEVICE_ID_UNITS = 200;
// The second text of an entry owed a restart of the computer.
constexpr WCHAR COMPUTER_RESTART_MARK[] = u"restart";

// Opens the journal's key for writing, making it when it is not there.
LSTATUS OpenForWriting(HKEY* key)
{
    DWORD disposition = 0;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, JOURNAL_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_SET_VALUE, nullptr, key, &disposition);
}

struct Finding {
    const std::vector<JournalEntry>* Entries;
    JournalAdapterVisitor Found;
    void* Context;
    std::vector<bool>* Present;
    bool NameUnreadable; // a device's driver key name could not be read: it may be one an entry names
    std::vector<bool> Taken;
};

void FindAdapter(DeviceRef device, SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* buffer, void* context)
{
    auto* finding = static_cast<Finding*>(context);
    PropertyRead read = ReadDevicePropertyText(device.Set, deviceInfo, SPDRP_DRIVER, buffer);
    if (read != PropertyRead::Text) {
        finding->NameUnreadable = finding->NameUnreadable || read == PropertyRead::Unreadable;
        return;
    }
    std::u16string name(reinterpret_cast<const WCHAR*>(buffer->Block), PropertyTextLength(buffer));
    std::u16string id;
    bool idRead = false;
    for (std::size_t i = 0; i < finding->Entries->size(); ++i) {
        const JournalEntry& entry = (*finding->Entries)[i];
        if ((*finding->Present)[i] || !SameIgnoringAsciiCase(entry.DriverKeyName, name)) {
            continue;
        }
        // A driver key name freed by a device removed since may be another
        // device's now: the entry names the device it recorded, or none. An
        // ID that cannot be read tells nothing, and the name decides.
        if (!entry.InstanceId.empty() && !idRead) {
            id = ReadInstanceId(device.Set, deviceInfo);
            idRead = true;
        }
        if (entry.InstanceId.empty() || id.empty() || SameIgnoringAsciiCase(entry.InstanceId, id)) {
            (*finding->Present)[i] = true;
            if (finding->Found != nullptr) {
                finding->Found(i, device, deviceInfo, finding->Context);
            }
            return;
        }
        finding->Taken[i] = true;
    }
}

// Writes the SYSTEM hive to disk: through the adapter's driver key, or, where
// that cannot be opened (one the tool restarts though its key is gone, say),
// through the hive's root. Every Windows has that root; a registry without
// one (a simulated machine's) has no hive to write.
LSTATUS FlushDeviceStates(const std::u16string& driverKeyName)
{
    TextField path = {};
    HKEY key = nullptr;
    LSTATUS status = MakeDriverKeyPath(driverKeyName.c_str(), &path)
                         ? RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.Text, 0, KEY_QUERY_VALUE, &key)
                         : static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    if (status != ERROR_SUCCESS) {
        status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_QUERY_VALUE, &key);
        if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
            return ERROR_SUCCESS;
        }
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = RegFlushKey(key);
    RegCloseKey(key);
    return status;
}

} // namespace

JournalSearch FindJournalAdapters(const std::vector<JournalEntry>& entries, JournalAdapterVisitor found, void* context,
                                  std::vector<bool>* present, std::vector<bool>* taken)
{
    present->assign(entries.size(), false);
    if (taken != nullptr) {
        taken->assign(entries.size(), false);
    }
    Finding finding = {&entries, found, context, present, false, std::vector<bool>(entries.size(), false)};
    DWORD endError = ERROR_NO_MORE_ITEMS;
    if (!WalkPresentDevices(FindAdapter, &finding, &endError)) {
        return JournalSearch::NoDeviceList;
    }
    if (taken != nullptr) {
        *taken = finding.Taken;
    }
    bool allFound = std::find(present->begin(), present->end(), false) == present->end();
    bool unsure = finding.NameUnreadable || endError != ERROR_NO_MORE_ITEMS;
    return unsure && !allFound ? JournalSearch::DeviceUnreadable : JournalSearch::Done;
}

bool ReadJournal(std::vector<JournalEntry>* entries, DWORD* error)
{
    entries->clear();
    *error = ERROR_SUCCESS;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, JOURNAL_KEY, 0, KEY_READ, &key);
    if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    std::u16string name(MAX_VALUE_NAME_UNITS, u'\0');
    DWORD relisted = 0; // indexes listed again after an entry there went
    for (DWORD index = 0; status == ERROR_SUCCESS; ++index) {
        DWORD nameUnits = MAX_VALUE_NAME_UNITS;
        status = RegEnumValueW(key, index, name.data(), &nameUnits, nullptr, nullptr, nullptr, nullptr);
        if (static_cast<DWORD>(status) == ERROR_NO_MORE_ITEMS) {
            status = ERROR_SUCCESS;
            break;
        }
        if (status == ERROR_SUCCESS && index == MAX_JOURNAL_ENTRIES) {
            // More than are read: an entry past them would go unseen.
            status = ERROR_MORE_DATA;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        JournalEntry entry;
        entry.DriverKeyName.assign(name.data(), nameUnits < MAX_VALUE_NAME_UNITS ? nameUnits : 0);
        DWORD type = 0;
        std::vector<BYTE> data;
        status = ReadRegistryValue(key, entry.DriverKeyName.c_str(), &type, &data);
        if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
            // A deployment cleared it since it was listed (the check takes
            // no lock): it is gone, and the entry after it may stand at its
            // index now, which is listed again, as often as entries a run
            // may hold go.
            status = ERROR_SUCCESS;
            if (relisted++ < MAX_JOURNAL_ENTRIES) {
                --index;
            }
            continue;
        }
        // A value that is no text names no instance: the name decides. Any
        // type but the key-only one may name a disabled adapter.
        bool list = type == REG_MULTI_SZ;
        entry.InstanceId = type == REG_SZ || list ? TextOfUtf16(data.data(), data.size()) : u"";
        std::size_t second = (entry.InstanceId.size() + 1) * sizeof(WCHAR);
        entry.ComputerRestart = list && second < data.size() &&
                                TextOfUtf16(data.data() + second, data.size() - second) == COMPUTER_RESTART_MARK;
        entry.KeyOnly = list && !entry.ComputerRestart;
        entries->push_back(entry);
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
    *error = static_cast<DWORD>(status);
    return status == ERROR_SUCCESS;
}

LSTATUS RecordRestart(const JournalEntry& entry, bool replacing)
{
    HKEY key = nullptr;
    LSTATUS status = OpenForWriting(&key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Whether the journal holds the most entries a run reads back: a name
    // too long for the probe's room is there all the same.
    WCHAR probe[1] = {};
    DWORD probeUnits = 1;
    LSTATUS last = RegEnumValueW(key, MAX_JOURNAL_ENTRIES - 1, probe, &probeUnits, nullptr, nullptr, nullptr, nullptr);
    // Any answer but the end of the values may mean it does: one more would
    // go unread, and stop every later run.
    bool full = static_cast<DWORD>(last) != ERROR_NO_MORE_ITEMS;
    bool keeps = entry.KeyOnly && !replacing; // an entry of that name stays as it stands
    DWORD type = 0;
    std::vector<BYTE> held;
    LSTATUS holds = full || keeps ? ReadRegistryValue(key, entry.DriverKeyName.c_str(), &type, &held)
                                  : static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    bool absent = static_cast<DWORD>(holds) == ERROR_FILE_NOT_FOUND;
    if (full && holds != ERROR_SUCCESS) {
        bool counted = last == ERROR_SUCCESS || static_cast<DWORD>(last) == ERROR_MORE_DATA;
        status = !counted ? last : absent ? static_cast<LSTATUS>(ERROR_MORE_DATA) : holds;
    } else if (keeps && !absent) {
        // One there is flushed as it stands; one that cannot be read may be
        // there, and is no entry recorded.
        status = holds;
    } else {
        // The text with its terminator, as the registry keeps texts.
        std::u16string text;
        DWORD valueType = JournalValueOf(entry, &text);
        status =
            RegSetValueExW(key, entry.DriverKeyName.c_str(), 0, valueType, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }
    if (status == ERROR_SUCCESS) {
        status = RegFlushKey(key);
    }
    RegCloseKey(key);
    return status;
}

DWORD JournalValueOf(const JournalEntry& entry, std::u16string* text)
{
    *text = entry.InstanceId;
    if (entry.ComputerRestart) {
        // A list of two texts.
        text->push_back(u'\0');
        *text += COMPUTER_RESTART_MARK;
    }
    if (entry.KeyOnly || entry.ComputerRestart) {
        // The list's end: one more terminator after its last text.
        text->push_back(u'\0');
    }
    return entry.KeyOnly || entry.ComputerRestart ? REG_MULTI_SZ : REG_SZ;
}

LSTATUS ClearRestart(const std::u16string& driverKeyName, LSTATUS* unflushed)
{
    *unflushed = ERROR_SUCCESS;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, JOURNAL_KEY, 0, KEY_READ | KEY_SET_VALUE, &key);
    if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = RegDeleteValueW(key, driverKeyName.c_str());
    if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
        status = ERROR_SUCCESS;
    }
    if (status == ERROR_SUCCESS) {
        *unflushed = RegFlushKey(key);
    }
    RegCloseKey(key);
    return status;
}

LSTATUS ClearRestartOnceEnabled(const std::u16string& driverKeyName, LSTATUS* unflushed)
{
    *unflushed = ERROR_SUCCESS;
    LSTATUS status = FlushDeviceStates(driverKeyName);
    return status == ERROR_SUCCESS ? ClearRestart(driverKeyName, unflushed) : status;
}

LSTATUS RecordRestartOnceEnabled(const JournalEntry& entry)
{
    LSTATUS status = FlushDeviceStates(entry.DriverKeyName);
    return status == ERROR_SUCCESS ? RecordRestart(entry, true) : status;
}

std::u16string ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    std::u16string id(MAX_DEVICE_ID_UNITS, u'\0');
    DWORD required = 0;
    auto attempt = [&] {
        if (SetupDiGetDeviceInstanceIdW(set, deviceInfo, id.data(), static_cast<DWORD>(id.size()), &required)) {
            return ReadTry::Done;
        }
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER && required > id.size() ? ReadTry::NeedsRoom
                                                                                   : ReadTry::Failed;
    };
    auto grow = [&] {
        id.assign(required, u'\0');
        return true;
    };
    return ReadGrowing(attempt, grow, 1) ? id.substr(0, id.find(u'\0')) : std::u16string();
}

JournalEntry JournalEntryOf(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    JournalEntry entry;
    PropertyBuffer buffer = {nullptr, 0, 0};
    if (ReadDeviceProperty(set, deviceInfo, SPDRP_DRIVER, &buffer)) {
        entry.DriverKeyName.assign(reinterpret_cast<const char16_t*>(buffer.Block), PropertyTextLength(&buffer));
        entry.InstanceId = ReadInstanceId(set, deviceInfo);
    }
    ReleasePropertyBlock(&buffer);
    return entry;
}

std::string DescribeEntry(const JournalEntry& entry)
{
    std::string name = entry.DriverKeyName.empty()
                           ? "an adapter whose driver key name could not be read"
                           : Utf16ToUtf8(entry.DriverKeyName.data(), entry.DriverKeyName.size());
    std::string id = Utf16ToUtf8(entry.InstanceId.data(), entry.InstanceId.size());
    return EscapeControlCharacters(name + (id.empty() ? "" : " (" + id + ")"));
}
