#include "preflight/snapshot.h"

#include <vector>

#include "platform/inspection.h"
#include "platform/platform.h"
#include "platform/sim/registry_names.h"
#include "platform/sim/text.h"
#include "preflight/journal.h"
#include "setting/driver_setting.h"

using namespace platform;

namespace {

// How often one read may ask for more room before it is given up.
constexpr int MAX_READ_ATTEMPTS = 8;
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
    for (int attempt = 0; attempt < MAX_READ_ATTEMPTS; ++attempt) {
        auto size = static_cast<DWORD>(buffer.size());
        DWORD returned = size;
        SetLastError(ERROR_SUCCESS);
        if (SetupDiGetDeviceRegistryPropertyW(set, deviceInfo, code, nullptr, buffer.data(), size, &returned)) {
            property.Readable = true;
            property.Bytes.assign(buffer.begin(), buffer.begin() + (returned < size ? returned : size));
            return property;
        }
        property.Error = GetLastError();
        if (property.Error != ERROR_INSUFFICIENT_BUFFER || returned <= size) {
            // A platform that asks for room it does not name cannot be
            // replayed as asking for it; the property counts as unreadable.
            if (property.Error == ERROR_INSUFFICIENT_BUFFER) {
                property.Error = simulator::ERROR_INVALID_DATA;
            }
            return property;
        }
        buffer.assign(returned, 0);
    }
    property.Error = simulator::ERROR_INVALID_DATA;
    return property;
}

// The driver key of a device, read only: whether it exists, its WapiSupport
// value, whether this process may read it, and whether it would be let in
// with full access. What cannot be told is noted.
bool ReadDriverKey(const std::u16string& path, simulator::Key* key, std::vector<KeyNote>* notes)
{
    key->Path = path;
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &opened);
    if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (status == ERROR_SUCCESS) {
        DWORD type = 0;
        DWORD size = 0;
        status = RegQueryValueExW(opened, SETTING_NAME, nullptr, &type, nullptr, &size);
        std::vector<BYTE> data(size);
        if (status == ERROR_SUCCESS) {
            status = RegQueryValueExW(opened, SETTING_NAME, nullptr, &type, data.data(), &size);
        }
        RegCloseKey(opened);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            key->Values.emplace_back(SETTING_NAME, simulator::Value{type, data});
        } else if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
            status = ERROR_SUCCESS;
        }
    }
    if (status != ERROR_SUCCESS) {
        key->DenyRead = true;
        notes->push_back({path, "could not be read (error " + std::to_string(status) + ")", false});
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

// The device's instance ID, or empty when it cannot be read.
std::u16string ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    std::u16string id(200, u'\0'); // MAX_DEVICE_ID_LEN
    DWORD required = 0;
    if (!SetupDiGetDeviceInstanceIdW(set, deviceInfo, id.data(), static_cast<DWORD>(id.size()), &required)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= id.size() || required > 32768) {
            return {};
        }
        id.assign(required, u'\0');
        if (!SetupDiGetDeviceInstanceIdW(set, deviceInfo, id.data(), required, &required)) {
            return {};
        }
    }
    return id.substr(0, id.find(u'\0'));
}

// A key read whole, for reading only, when it exists: each of its values.
bool ReadWholeKey(const WCHAR* path, simulator::Key* key)
{
    key->Path = path;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    std::u16string name(16384, u'\0');
    for (DWORD index = 0; index < 1000; ++index) {
        DWORD units = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(opened, index, name.data(), &units, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            break;
        }
        std::vector<BYTE> data(size);
        DWORD room = size;
        if (RegQueryValueExW(opened, name.c_str(), nullptr, &type, data.data(), &room) == ERROR_SUCCESS) {
            data.resize(room < size ? room : size);
            key->Values.emplace_back(name.substr(0, units), simulator::Value{type, data});
        }
    }
    RegCloseKey(opened);
    return true;
}

} // namespace

bool TakeSnapshot(Snapshot* snapshot, std::string* error)
{
    *snapshot = Snapshot{};
    simulator::Machine* machine = &snapshot->Machine;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        *error = "the list of present devices cannot be opened (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    SP_DEVINFO_DATA deviceInfo = {};
    deviceInfo.cbSize = sizeof(deviceInfo);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &deviceInfo); ++index) {
        simulator::Device device;
        DWORD status = 0;
        DWORD problem = 0;
        CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, deviceInfo.DevInst, 0);
        if (result == CR_SUCCESS) {
            device.Status = status;
            device.Problem = problem;
        } else {
            device.StatusResult = result;
        }
        for (int slot = 0; slot < simulator::PROPERTY_SLOTS; ++slot) {
            device.Properties[slot] = ReadRawProperty(set, &deviceInfo, simulator::PROPERTY_KINDS[slot].Code);
        }
        device.InstanceId = ReadInstanceId(set, &deviceInfo);
        std::u16string driver = simulator::TextIn(device.Properties[simulator::SLOT_DRIVER].Bytes);
        if (device.Properties[simulator::SLOT_DRIVER].Readable && !driver.empty()) {
            std::u16string path = DRIVER_KEY_PREFIX + driver;
            bool known = false;
            for (const simulator::Key& key : machine->Registry) {
                known = known || simulator::SameRegistryName(key.Path, path);
            }
            simulator::Key key;
            if (!known && ReadDriverKey(path, &key, &snapshot->Notes)) {
                machine->Registry.push_back(key);
            }
        }
        machine->Devices.push_back(device);
    }
    SetupDiDestroyDeviceInfoList(set);
    // The deployment's journal, which the check reads too.
    simulator::Key journal;
    if (ReadWholeKey(JOURNAL_KEY, &journal)) {
        machine->Registry.push_back(journal);
    }
    machine->Elevated = IsProcessElevated() != FALSE;
    return true;
}

simulator::Machine ReplayMachine(const simulator::Machine& snapshot)
{
    simulator::Machine machine = snapshot;
    for (simulator::Device& device : machine.Devices) {
        device.OnStateChange = simulator::Reaction::Adapter;
        device.PendingDisable = false;
    }
    machine.Faults.clear();
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
