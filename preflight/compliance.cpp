#include "preflight/compliance.h"

#include <algorithm>

#include "common/growing_read.h"
#include "common/text_field.h"
#include "common/text_format.h"
#include "common/unicode.h"
#include "discovery/adapter_scan.h"
#include "discovery/device_probes.h"
#include "platform/inspection.h"
#include "setting/driver_setting.h"

using namespace platform;

namespace {

// How often one value's read may find it grown since its size was asked.
constexpr int MAX_VALUE_READS = 8;

void CollectAdapter(DeviceRef device, const SP_DEVINFO_DATA* deviceInfo, const WCHAR* driverKeyName, void* context)
{
    PickedAdapter adapter;
    adapter.Index = device.Index;
    adapter.DevInst = deviceInfo->DevInst;
    // A name the tool refuses names no key: the key path stays empty.
    TextField keyPath = {};
    if (MakeDriverKeyPath(driverKeyName, &keyPath)) {
        adapter.KeyPath = keyPath.Text;
    }
    static_cast<std::vector<PickedAdapter>*>(context)->push_back(adapter);
}

// The setting as a REG_SZ text "1": its units up to a terminator within its size.
bool IsEnabledText(DWORD type, const BYTE* data, DWORD size)
{
    if (type != REG_SZ || size < 2 || data[0] != 0x31 || data[1] != 0) {
        return false;
    }
    return size < 4 || (data[2] == 0 && data[3] == 0);
}

// By entry: whether its adapter reads as running, and whether it reads as
// disabled.
struct JournalStates {
    std::vector<bool> Running;
    std::vector<bool> Disabled;
};

void NoteRunning(std::size_t entry, DeviceRef, SP_DEVINFO_DATA* deviceInfo, void* context)
{
    auto* states = static_cast<JournalStates*>(context);
    bool disabled = false;
    bool read = ReadDisabled(deviceInfo->DevInst, &disabled) == CR_SUCCESS;
    states->Running[entry] = read && !disabled;
    states->Disabled[entry] = read && disabled;
}

} // namespace

// The registry tells the size a value needs, and a value that grew since is
// read again with the room it then asks for.
LSTATUS ReadRegistryValue(HKEY key, const WCHAR* name, DWORD* type, std::vector<BYTE>* data)
{
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    auto attempt = [&] {
        data->assign(size, 0);
        DWORD room = size;
        status = RegQueryValueExW(key, name, nullptr, type, data->empty() ? nullptr : data->data(), &room);
        if (status == ERROR_SUCCESS) {
            data->resize(room < size ? room : size);
            return ReadTry::Done;
        }
        size = room;
        return static_cast<DWORD>(status) == ERROR_MORE_DATA ? ReadTry::NeedsRoom : ReadTry::Failed;
    };
    (void)ReadGrowing(
        attempt, [] { return true; }, MAX_VALUE_READS - 1);
    return status;
}

DriverKeyRead ReadDriverKey(const std::u16string& path)
{
    DriverKeyRead read;
    HKEY key = nullptr;
    read.Opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (read.Opened == ERROR_SUCCESS) {
        read.Value = ReadRegistryValue(key, SETTING_NAME, &read.Type, &read.Data);
        RegCloseKey(key);
    }
    return read;
}

void ReadSetting(PickedAdapter* adapter)
{
    adapter->ReadError = 0;
    adapter->KeyOpened = false;
    adapter->ValueData.clear();
    if (adapter->KeyPath.empty()) {
        adapter->Setting = SettingState::Unreadable;
        return;
    }
    DriverKeyRead read = ReadDriverKey(adapter->KeyPath);
    if (read.Opened != ERROR_SUCCESS) {
        adapter->Setting =
            static_cast<DWORD>(read.Opened) == ERROR_FILE_NOT_FOUND ? SettingState::NoKey : SettingState::Unreadable;
        adapter->ReadError = static_cast<DWORD>(read.Opened);
        return;
    }
    adapter->KeyOpened = true;
    adapter->ValueType = read.Type;
    adapter->ValueData = read.Data;
    LSTATUS status = read.Value;
    if (static_cast<DWORD>(status) == ERROR_FILE_NOT_FOUND) {
        adapter->Setting = SettingState::Absent;
    } else if (status != ERROR_SUCCESS) {
        adapter->Setting = SettingState::Unreadable;
        adapter->ReadError = static_cast<DWORD>(status);
    } else {
        adapter->Setting =
            IsEnabledText(adapter->ValueType, adapter->ValueData.data(), static_cast<DWORD>(adapter->ValueData.size()))
                ? SettingState::Set
                : SettingState::Other;
    }
}

namespace {

void ReadStatus(PickedAdapter* adapter)
{
    adapter->StatusResult = CM_Get_DevNode_Status(&adapter->Status, &adapter->Problem, adapter->DevInst, 0);
    adapter->StatusKnown = adapter->StatusResult == CR_SUCCESS;
}

std::string Utf8(const std::u16string& text)
{
    return Utf16ToUtf8(text.data(), text.size());
}

// Why an adapter is not as wanted, briefly.
std::string Why(const PickedAdapter& adapter)
{
    switch (adapter.Setting) {
    case SettingState::Set:
        return "set";
    case SettingState::Other:
        return "holds another value";
    case SettingState::Absent:
        return "not set";
    case SettingState::NoKey:
        return "no such key";
    case SettingState::Unreadable:
        break;
    }
    return adapter.KeyPath.empty() ? "its driver key name is too long to name a key"
                                   : "cannot be read (error " + std::to_string(adapter.ReadError) + ")";
}

std::string Named(const PickedAdapter& adapter, const std::function<std::string(const std::u16string&)>& note)
{
    std::string name = Label(adapter);
    std::string noted = note && !adapter.KeyPath.empty() ? note(adapter.KeyPath) : "";
    return name + " (" + Why(adapter) + (noted.empty() ? "" : "; " + noted) + ")";
}

} // namespace

MachineState ReadMachineState()
{
    MachineState state;
    DWORD endError = ERROR_NO_MORE_ITEMS;
    state.DeviceListOpened = EnumWirelessAdapters(CollectAdapter, &state.Adapters, &endError) != FALSE;
    state.DeviceListError = state.DeviceListOpened ? 0 : GetLastError();
    if (state.DeviceListOpened && endError != ERROR_NO_MORE_ITEMS) {
        // The walk was cut short: the devices past it are unknown.
        state.DeviceListCut = true;
        state.DeviceListError = endError;
    }
    ReadAdaptersAgain(&state.Adapters);
    auto disabled = std::stable_partition(state.Adapters.begin(), state.Adapters.end(),
                                          [](const PickedAdapter& adapter) { return !IsLeftDisabled(adapter); });
    state.FoundDisabled.assign(disabled, state.Adapters.end());
    state.Adapters.erase(disabled, state.Adapters.end());
    if (state.DeviceListOpened && !state.DeviceListCut && state.Adapters.empty()) {
        state.Missed = FindNearMisses();
    }
    std::vector<JournalEntry> entries;
    if (!ReadJournal(&entries, &state.JournalError) || entries.empty()) {
        return state;
    }
    JournalStates states = {std::vector<bool>(entries.size(), false), std::vector<bool>(entries.size(), false)};
    std::vector<bool> present;
    std::vector<bool> taken;
    bool searched = FindJournalAdapters(entries, NoteRunning, &states, &present, &taken) == JournalSearch::Done;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // An entry of an adapter the run had not asked to disable, found
        // disabled or not present, leaves nothing to do: its driver reads
        // its key as it starts, and the deployment clears it. Nor does one
        // whose driver key name is another device's now: the device it
        // named was removed, and comes back enabled.
        // Nor does one owed a restart of the computer whose adapter is not
        // present: it reads its key as it starts when it is back.
        bool noDisable = entries[i].KeyOnly || entries[i].ComputerRestart;
        if ((entries[i].KeyOnly && states.Disabled[i]) || (noDisable && searched && !present[i]) ||
            (!present[i] && taken[i])) {
            continue;
        }
        state.Interrupted.push_back(entries[i]);
        state.InterruptedRunning.push_back(states.Running[i]);
        if (searched) {
            state.InterruptedPresent.push_back(present[i]);
        }
    }
    return state;
}

void ReadAdaptersAgain(std::vector<PickedAdapter>* adapters)
{
    for (PickedAdapter& adapter : *adapters) {
        ReadSetting(&adapter);
        ReadStatus(&adapter);
    }
}

std::string Label(const PickedAdapter& adapter)
{
    if (!adapter.Name.empty()) {
        return adapter.Name;
    }
    return adapter.KeyPath.empty() ? "device " + std::to_string(adapter.Index)
                                   : EscapeControlCharacters(Utf8(adapter.KeyPath));
}

bool IsAsWanted(const PickedAdapter& adapter, SettingAction action)
{
    if (action == SettingAction::Add) {
        return adapter.Setting == SettingState::Set;
    }
    return adapter.Setting == SettingState::Absent || adapter.Setting == SettingState::NoKey;
}

bool NeedsRestart(const PickedAdapter& adapter)
{
    return adapter.StatusKnown && (adapter.Status & DN_NEED_RESTART) != 0;
}

bool IsLeftDisabled(const PickedAdapter& adapter)
{
    return adapter.StatusKnown && IsDisabledStatus(adapter.Status, adapter.Problem) != FALSE;
}

CheckAnswer JudgeCompliance(const MachineState& state, SettingAction action,
                            const std::function<std::string(const std::u16string& keyPath)>& note)
{
    if (!state.DeviceListOpened) {
        return {CHECK_UNREADABLE, "The list of present devices cannot be opened"};
    }
    if (state.DeviceListCut) {
        return {CHECK_UNREADABLE, "The list of present devices cannot be read to its end (error " +
                                      std::to_string(state.DeviceListError) + ")"};
    }
    if (state.JournalError != 0) {
        return {CHECK_UNREADABLE, "The deployment's journal, HKLM\\SOFTWARE\\Tessary\\Restarting, cannot be read "
                                  "(error " +
                                      std::to_string(state.JournalError) + ")"};
    }
    // An adapter an interrupted run left disabled is not picked: it comes
    // first, then one found running whose restart the run did not finish.
    // One that is not present now cannot be enabled until it is back, and no
    // run can help before: it is named last.
    std::string disabled;
    std::string unfinished;
    std::string away;
    std::string computer;
    std::size_t disabledCount = 0;
    std::size_t unfinishedCount = 0;
    for (std::size_t i = 0; i < state.Interrupted.size(); ++i) {
        if (state.Interrupted[i].ComputerRestart) {
            computer += (computer.empty() ? "" : ", ") + DescribeEntry(state.Interrupted[i]);
            continue;
        }
        bool present = i >= state.InterruptedPresent.size() || state.InterruptedPresent[i];
        // One whose entry names no disable, and that does not read disabled,
        // was not left disabled by that run.
        bool running = present && ((i < state.InterruptedRunning.size() && state.InterruptedRunning[i]) ||
                                   state.Interrupted[i].KeyOnly);
        std::string& list = !present ? away : running ? unfinished : disabled;
        list += (list.empty() ? "" : ", ") + DescribeEntry(state.Interrupted[i]);
        disabledCount += present && !running ? 1 : 0;
        unfinishedCount += running ? 1 : 0;
    }
    std::string interrupted;
    if (disabledCount > 0) {
        interrupted = (disabledCount == 1 ? "an interrupted run left this adapter disabled: "
                                          : "an interrupted run left these adapters disabled: ") +
                      disabled;
    }
    if (unfinishedCount > 0) {
        interrupted += (interrupted.empty() ? "" : "; ") +
                       std::string(unfinishedCount == 1 ? "an interrupted run did not finish restarting this adapter: "
                                                        : "an interrupted run did not finish restarting these "
                                                          "adapters: ") +
                       unfinished;
    }
    if (!computer.empty()) {
        interrupted +=
            (interrupted.empty() ? "" : "; ") +
            std::string("a deployment that failed or was cut short left a restart of the computer owed, which Windows "
                        "asked for to put the setting in force: ") +
            computer;
    }
    if (!away.empty()) {
        away = "; left disabled by an interrupted run but not present now (the first deployment after it is back "
               "enables it): " +
               away;
    }
    if (state.Adapters.empty() && interrupted.empty() && !state.Missed.Unsure.empty()) {
        std::string unsure;
        for (const std::string& line : state.Missed.Unsure) {
            unsure += (unsure.empty() ? "" : "; ") + line;
        }
        return {CHECK_UNREADABLE, "No adapter was picked, but a device that may be one cannot be read: " + unsure};
    }
    if (state.Adapters.empty() && interrupted.empty()) {
        return {CHECK_NO_ADAPTER, "No adapter: tessary.exe would pick no adapter on this machine" + away};
    }
    if (state.Adapters.empty()) {
        return {CHECK_NOT_COMPLIANT, "Not compliant: " + interrupted + away};
    }
    std::string wrong;
    std::string waiting;
    std::size_t wrongCount = 0;
    std::size_t waitingCount = 0;
    for (const PickedAdapter& adapter : state.Adapters) {
        if (!IsAsWanted(adapter, action)) {
            wrong += (wrongCount++ == 0 ? "" : ", ") + Named(adapter, note);
        }
        if (NeedsRestart(adapter)) {
            waiting += (waitingCount++ == 0 ? "" : ", ") + Label(adapter);
        }
    }
    std::string total = CountOf(state.Adapters.size(), "adapter");
    std::string restart = waitingCount == 0
                              ? ""
                              : "; " + CountOf(waitingCount, "adapter") + " wait" + (waitingCount == 1 ? "s" : "") +
                                    " for a restart of the computer before the setting is in force: " + waiting;
    std::string first = interrupted.empty() ? "" : interrupted + "; ";
    if (wrongCount > 0) {
        std::string want = action == SettingAction::Add ? "not set on " : "not absent from ";
        return {CHECK_NOT_COMPLIANT, "Not compliant: " + first + "WapiSupport is " + want + std::to_string(wrongCount) +
                                         " of " + total + ": " + wrong + restart + away};
    }
    std::string done = action == SettingAction::Add ? "set on " + total : "absent from " + total;
    return {interrupted.empty() ? CHECK_COMPLIANT : CHECK_NOT_COMPLIANT,
            (interrupted.empty() ? "Compliant: " : "Not compliant: " + first) + "WapiSupport is " + done + restart +
                away};
}
