#include "preflight/replay.h"

#include <map>

#include "app/command_dispatch.h"
#include "common/text_format.h"
#include "platform/sim/simulator.h"

namespace {

// A registry value as the report shows it.
std::string Describe(const simulator::Value* value)
{
    if (value == nullptr) {
        return "none";
    }
    return RegistryTypeName(value->Type) + " (" + simulator::HexBytes(value->Data) + ")";
}

const simulator::Value* SettingOf(const simulator::Key& key)
{
    for (const auto& value : key.Values) {
        if (simulator::SameRegistryName(value.first, SETTING_NAME)) {
            return &value.second;
        }
    }
    return nullptr;
}

// A device as the report names it: its description and driver key name.
std::string NameOf(const simulator::Device& device)
{
    auto text = [](const simulator::Property& property) {
        return property.Readable ? simulator::Utf16ToUtf8(simulator::TextIn(property.Bytes)) : std::string();
    };
    return text(device.Properties[simulator::SLOT_DESCRIPTION]) + " (" +
           text(device.Properties[simulator::SLOT_DRIVER]) + ")";
}

// What the class installer did to each device, in order, as the double kept
// it: the state changes it carried out ("disabled", "enabled") or refused.
std::map<std::size_t, std::string> StateChanges()
{
    std::map<std::size_t, std::string> changes;
    for (const simulator::StateChange& asked : simulator::StateChanges()) {
        std::string change = asked.Change == platform::DICS_DISABLE ? "disabled" : "enabled";
        std::string& line = changes[asked.Index];
        line += std::string(line.empty() ? "" : ", then ") + (asked.Done ? change : "not " + change + " (refused)");
    }
    return changes;
}

// The error the snapshot met reading a key, or the replay's own when it met
// none: the replay refuses every key the snapshot could not read as closed to
// reading, whatever kept it from being read.
platform::DWORD ReadErrorOn(const Snapshot& snapshot, const std::u16string& path, platform::DWORD replayed)
{
    for (const KeyNote& note : snapshot.Notes) {
        if (note.ReadError != 0 && simulator::SameRegistryName(note.Path, path)) {
            return note.ReadError;
        }
    }
    return replayed;
}

} // namespace

Replay ReplayTool(const Snapshot& snapshot, int argc, const platform::WCHAR* const* argv)
{
    simulator::Machine machine = ReplayMachine(snapshot.Machine);
    simulator::Install(machine);
    (void)TessaryMain(argc, argv);

    Replay replay;
    replay.ToolOutput = simulator::Output();
    std::string changes;
    const simulator::Machine& after = simulator::Current();
    for (std::size_t i = 0; i < machine.Registry.size(); ++i) {
        const simulator::Value* before = SettingOf(machine.Registry[i]);
        const simulator::Value* now = SettingOf(after.Registry[i]);
        bool same = (before == nullptr) == (now == nullptr) && (before == nullptr || *before == *now);
        if (!same) {
            changes += simulator::Utf16ToUtf8(machine.Registry[i].Path) + ": WapiSupport " + Describe(before) + " -> " +
                       Describe(now) + "\n";
        }
    }
    for (const auto& change : StateChanges()) {
        changes += "device " + std::to_string(change.first) + ", " + NameOf(machine.Devices[change.first]) + ": " +
                   change.second + "\n";
    }
    replay.Changes = "What the run would change (a replay on a snapshot of this machine; every adapter is taken to "
                     "react as adapters do, though its driver may refuse to stop or ask for a restart):\n";
    if (!snapshot.Machine.Elevated) {
        replay.Changes += "This process is not elevated, and the replay runs as it is: run tessary.exe elevated to "
                          "change driver keys and restart adapters.\n";
    }
    for (const KeyNote& note : snapshot.Notes) {
        replay.Changes += simulator::Utf16ToUtf8(note.Path) + ": " + note.Text + ".\n";
    }
    replay.Changes += changes.empty() ? "Nothing: no driver key and no adapter would change.\n" : changes;
    return replay;
}

CheckAnswer CheckSnapshot(const Snapshot& snapshot, SettingAction action)
{
    simulator::Install(ReplayMachine(snapshot.Machine));
    MachineState state = ReadMachineState();
    for (PickedAdapter& adapter : state.Adapters) {
        if (adapter.Setting == SettingState::Unreadable && !adapter.KeyPath.empty()) {
            adapter.ReadError = ReadErrorOn(snapshot, adapter.KeyPath, adapter.ReadError);
        }
    }
    if (state.JournalError != 0) {
        state.JournalError = ReadErrorOn(snapshot, JOURNAL_KEY, state.JournalError);
    }
    return JudgeCompliance(state, action,
                           [&snapshot](const std::u16string& keyPath) { return SecurityNoteOn(snapshot, keyPath); });
}

CheckAnswer CheckTaken(const Snapshot* snapshot, const std::string& error, SettingAction action)
{
    return snapshot != nullptr ? CheckSnapshot(*snapshot, action)
                               : CheckAnswer{CHECK_UNREADABLE, "no snapshot: " + error};
}
