#include "preflight/snapshot.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "common/growing_read.h"
#include "discovery/device_walk.h"
#include "platform/inspection.h"
#include "platform/platform.h"
#include "platform/sim/registry_names.h"
#include "platform/sim/text.h"
#include "preflight/compliance.h"
#include "preflight/journal.h"
#include "setting/driver_setting.h"

using namespace platform;

namespace {

// How often one read may ask for more room before it is given up.
constexpr int MAX_READ_GROWTHS = 7;
// The room the first read of a property is given. A read given none fails
// even for a property of no bytes, so it would not tell those apart.
constexpr DWORD FIRST_READ_BYTES = 256;

// One property as the platform returns it. The last error is cleared before
// each read: a platform that fails a read without setting one (Wine, for the
// bus enumerator's name) then shows 0, not an error left by an earlier call.
simulator::Property ReadRawProperty(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD code)
{
    simulator::Property property;
    std::vector<BYTE> buffer(FIRST_READ_BYTES);
    DWORD size = 0;
    DWORD returned = 0;
    auto attempt = [&] {
        size = static_cast<DWORD>(buffer.size());
        returned = size;
        SetLastError(ERROR_SUCCESS);
        if (SetupDiGetDeviceRegistryPropertyW(set, deviceInfo, code, nullptr, buffer.data(), size, &returned)) {
            return ReadTry::Done;
        }
        property.Error = GetLastError();
        return property.Error == ERROR_INSUFFICIENT_BUFFER && returned > size ? ReadTry::NeedsRoom : ReadTry::Failed;
    };
    auto grow = [&] {
        buffer.assign(returned, 0);
        return true;
    };
    if (ReadGrowing(attempt, grow, MAX_READ_GROWTHS)) {
        property.Readable = true;
        property.Bytes.assign(buffer.begin(), buffer.begin() + (returned < size ? returned : size));
    } else if (property.Error == ERROR_INSUFFICIENT_BUFFER) {
        // A platform that asks for room cannot be replayed as asking for it:
        // one that asks for none has no text for it (the device has none),
        // one that asks for ever more could not be read.
        property.Error = returned == 0 ? simulator::ERROR_INVALID_DATA : ERROR_MORE_DATA;
    }
    return property;
}

// The driver key of a device, read only, as the check reads it: whether it
// exists, its WapiSupport value, whether this process may read it, and
// whether it would be let in with full access. What cannot be told is noted.
bool ReadKeyInto(const std::u16string& path, simulator::Key* key, std::vector<KeyNote>* notes)
{
    key->Path = path;
    DriverKeyRead read = ReadDriverKey(path);
    if (static_cast<DWORD>(read.Opened) == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    LSTATUS status = read.Opened;
    if (status == ERROR_SUCCESS) {
        status =
            static_cast<DWORD>(read.Value) == ERROR_FILE_NOT_FOUND ? static_cast<LSTATUS>(ERROR_SUCCESS) : read.Value;
        if (read.Value == ERROR_SUCCESS) {
            key->Values.emplace_back(SETTING_NAME, simulator::Value{read.Type, read.Data});
        }
    }
    if (status != ERROR_SUCCESS) {
        key->DenyRead = true;
        notes->push_back(
            {path, "could not be read (error " + std::to_string(status) + ")", false, static_cast<DWORD>(status)});
    }
    // A key that cannot be judged is taken as closed to full access, as the
    // tool's own open would then most likely be refused too.
    BOOL granted = FALSE;
    status = CheckKeyAccess(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, &granted);
    key->DenyFullAccess = status != ERROR_SUCCESS || granted == FALSE;
    if (status != ERROR_SUCCESS) {
        notes->push_back({path,
                          "its security could not be judged (error " + std::to_string(status) +
                              "), so it is taken as closed to full access",
                          true});
    }
    return true;
}

// The deployment's journal, when it exists, as the deployment reads it: each
// entry a value as the journal writes it. One that cannot be read is taken as closed to reading,
// so that the check on the snapshot answers that it cannot tell, and noted.
bool ReadJournalInto(simulator::Key* key, std::vector<KeyNote>* notes)
{
    key->Path = JOURNAL_KEY;
    std::vector<JournalEntry> entries;
    DWORD error = ERROR_SUCCESS;
    if (!ReadJournal(&entries, &error)) {
        key->DenyRead = true;
        notes->push_back({key->Path, "cannot be read (error " + std::to_string(error) + ")", false, error});
        return true;
    }
    for (const JournalEntry& entry : entries) {
        std::u16string text;
        DWORD type = JournalValueOf(entry, &text);
        key->Values.emplace_back(entry.DriverKeyName, simulator::Value{type, simulator::TextBytes(text)});
    }
    return !entries.empty();
}

// The walk's visit of one device: its status, properties and instance ID,
// and its driver key, read once for the keys the devices share.
void TakeDevice(DeviceRef device, SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* /*buffer*/, void* context)
{
    auto* snapshot = static_cast<Snapshot*>(context);
    simulator::Machine* machine = &snapshot->Machine;
    simulator::Device taken;
    DWORD status = 0;
    DWORD problem = 0;
    CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, deviceInfo->DevInst, 0);
    if (result == CR_SUCCESS) {
        taken.Status = status;
        taken.Problem = problem;
    } else {
        taken.StatusResult = result;
    }
    for (int slot = 0; slot < simulator::PROPERTY_SLOTS; ++slot) {
        taken.Properties[slot] = ReadRawProperty(device.Set, deviceInfo, simulator::PROPERTY_KINDS[slot].Code);
    }
    taken.InstanceId = ReadInstanceId(device.Set, deviceInfo);
    DWORD idError = taken.InstanceId.empty() ? GetLastError() : ERROR_SUCCESS;
    if (idError != ERROR_SUCCESS) {
        // The double answers an ID for every device: one that could not be
        // read here fails there too, as the check takes such a device by
        // its driver key name alone.
        simulator::Fault unreadable;
        unreadable.Call = simulator::Operation::SetupDiGetDeviceInstanceIdW;
        unreadable.Device = static_cast<std::int64_t>(machine->Devices.size());
        unreadable.Error = idError;
        unreadable.Times = -1;
        machine->Faults.push_back(unreadable);
    }
    std::u16string driver = simulator::TextIn(taken.Properties[simulator::SLOT_DRIVER].Bytes);
    if (taken.Properties[simulator::SLOT_DRIVER].Readable && !driver.empty()) {
        std::u16string path = DRIVER_KEY_PREFIX + driver;
        bool known = false;
        for (const simulator::Key& key : machine->Registry) {
            known = known || simulator::SameRegistryName(key.Path, path);
        }
        simulator::Key key;
        if (!known && ReadKeyInto(path, &key, &snapshot->Notes)) {
            machine->Registry.push_back(key);
        }
    }
    machine->Devices.push_back(taken);
}

} // namespace

bool TakeSnapshot(Snapshot* snapshot, std::string* error)
{
    *snapshot = Snapshot{};
    DWORD endError = ERROR_NO_MORE_ITEMS;
    if (!WalkPresentDevices(TakeDevice, snapshot, &endError)) {
        *error = "the list of present devices cannot be opened (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (endError != ERROR_NO_MORE_ITEMS) {
        // The devices past the one that could not be fetched are unknown: a
        // replay would take them for absent.
        *error = "the list of present devices cannot be read to its end (error " + std::to_string(endError) + ")";
        return false;
    }
    // The deployment's journal, which the check reads too.
    simulator::Key journal;
    if (ReadJournalInto(&journal, &snapshot->Notes)) {
        snapshot->Machine.Registry.push_back(journal);
    }
    snapshot->Machine.Elevated = IsProcessElevated() != FALSE;
    return true;
}

std::size_t CountDriverKeys(const Snapshot& snapshot)
{
    std::size_t count = 0;
    for (const simulator::Key& key : snapshot.Machine.Registry) {
        count += simulator::SameRegistryName(key.Path, JOURNAL_KEY) ? 0 : 1;
    }
    return count;
}

simulator::Machine ReplayMachine(const simulator::Machine& snapshot)
{
    simulator::Machine machine = snapshot;
    for (simulator::Device& device : machine.Devices) {
        device.OnStateChange = simulator::Reaction::Adapter;
        device.PendingDisable = false;
    }
    // What the snapshot could not read stays so (its only faults).
    std::vector<simulator::Fault> unread = snapshot.Faults;
    machine.Faults.clear();
    std::copy_if(unread.begin(), unread.end(), std::back_inserter(machine.Faults), [](const simulator::Fault& fault) {
        return fault.Call == simulator::Operation::SetupDiGetDeviceInstanceIdW;
    });
    if (!snapshot.Elevated) {
        // The keys' own security, as judged, decides their opening; the
        // class installer still refuses a standard user.
        machine.Elevated = true;
        simulator::Fault refused;
        refused.Call = simulator::Operation::SetupDiCallClassInstaller;
        refused.Error = simulator::ERROR_ACCESS_DENIED;
        refused.Times = -1;
        machine.Faults.push_back(refused);
    }
    return machine;
}

std::string SecurityNoteOn(const Snapshot& snapshot, const std::u16string& keyPath)
{
    std::string notes;
    for (const KeyNote& note : snapshot.Notes) {
        if (note.Security && simulator::SameRegistryName(note.Path, keyPath)) {
            notes += (notes.empty() ? "" : "; ") + note.Text;
        }
    }
    return notes;
}
