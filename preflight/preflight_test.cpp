// The snapshot code running over the simulated platform: a snapshot of a
// machine, saved and loaded again, holds its devices, properties and driver
// keys as the machine has them, and replaying the tool on it prints what the
// tool prints on the machine itself.
#include "preflight/snapshot.h"
#include "setting/driver_setting.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/command_dispatch.h"
#include "machine_file/machine_file.h"
#include "platform/inspection.h"
#include "platform/sim/simulator.h"
#include "preflight/check_modes.h"
#include "preflight/compliance.h"
#include "preflight/journal.h"
#include "preflight/replay.h"
#include "preflight/save_target.h"
#include "tests/support/check_runs.h"
#include "tests/support/machines.h"

namespace {

using simulator::Machine;
using testsupport::KeyOf;

// The machines the tests use: the demo machine and the fuzzers' seed machine
// files (snapshot-odd.json holds what the demo lacks). Reactions and faults
// are left out: a snapshot cannot know them.
std::vector<std::pair<std::string, Machine>> TestMachines()
{
    std::vector<std::pair<std::string, Machine>> machines;
    simulator::MachineFile file;
    std::string error;
    EXPECT_TRUE(simulator::LoadMachineText(simulator::DemoMachineText(), "demo", &file, &error)) << error;
    machines.emplace_back("demo", file.Loaded);
    // The seeds that are machines; the others are the parser's bad inputs.
    for (const char* seed : {"demo.json", "faults.json", "snapshot-odd.json", "tabs-crlf.json"}) {
        bool loaded = simulator::LoadMachineFile(TESSARY_SOURCE_DIR "/fuzz/corpus/machine_file/" + std::string(seed),
                                                 &file, &error);
        EXPECT_TRUE(loaded) << seed << ": " << error;
        if (loaded) {
            machines.emplace_back(seed, file.Loaded);
        }
    }
    for (auto& machine : machines) {
        machine.second.Faults.clear();
        for (simulator::Device& device : machine.second.Devices) {
            device.OnStateChange = simulator::Reaction::Adapter;
            device.PendingDisable = false;
        }
    }
    return machines;
}

TEST(TakeSnapshot, HoldsTheMachinesDevicesPropertiesAndDriverKeys)
{
    for (const auto& [name, machine] : TestMachines()) {
        simulator::Install(machine);
        Snapshot taken;
        std::string error;
        ASSERT_TRUE(TakeSnapshot(&taken, &error)) << name << ": " << error;
        EXPECT_TRUE(taken.Notes.empty()) << name;
        // As it is saved and loaded again; texts stay readable in the file.
        std::string text = simulator::MachineDocument(taken.Machine, "a snapshot").dump(2);
        simulator::MachineFile saved;
        ASSERT_TRUE(simulator::LoadMachineText(text, name, &saved, &error)) << error;
        const Machine& snapshot = saved.Loaded;
        EXPECT_TRUE(name != "snapshot-odd.json" || text.find("\"Corvane \xD0\x96 Wireless\"") != std::string::npos);
        EXPECT_TRUE(simulator::OpenResources().empty()) << name;
        // The devices as the file shows them; a status that could not be read
        // is not known.
        ASSERT_EQ(snapshot.Devices.size(), machine.Devices.size()) << name;
        Machine expected = machine;
        expected.Registry.clear();
        for (std::size_t i = 0; i < expected.Devices.size(); ++i) {
            if (expected.Devices[i].InstanceId.empty()) {
                expected.Devices[i].InstanceId = simulator::DefaultInstanceId(i);
            }
            if (expected.Devices[i].StatusResult != platform::CR_SUCCESS) {
                expected.Devices[i].Status = snapshot.Devices[i].Status;
                expected.Devices[i].Problem = snapshot.Devices[i].Problem;
            }
        }
        Machine devices = snapshot;
        devices.Registry.clear();
        EXPECT_EQ(simulator::MachineDocument(devices, "").dump(1), simulator::MachineDocument(expected, "").dump(1))
            << name;
        // Each device's driver key, as far as the tool can meet it.
        for (const simulator::Device& device : machine.Devices) {
            const simulator::Property& driver = device.Properties[simulator::SLOT_DRIVER];
            if (!driver.Readable || driver.Bytes.size() < 4) {
                continue;
            }
            std::u16string path =
                DRIVER_KEY_PREFIX +
                std::u16string(reinterpret_cast<const char16_t*>(driver.Bytes.data()), driver.Bytes.size() / 2 - 1);
            const simulator::Key* was = KeyOf(machine, path);
            const simulator::Key* is = KeyOf(snapshot, path);
            ASSERT_EQ(is != nullptr, was != nullptr) << name << " " << simulator::Utf16ToUtf8(path);
            if (was != nullptr) {
                EXPECT_EQ(is->DenyFullAccess, was->DenyFullAccess || !machine.Elevated) << name;
                auto setting = was->Values; // only the setting is kept
                setting.erase(std::remove_if(setting.begin(), setting.end(),
                                             [](const auto& value) {
                                                 return !simulator::SameRegistryName(value.first, u"WapiSupport");
                                             }),
                              setting.end());
                EXPECT_EQ(is->Values, setting) << name;
            }
        }
        // Replayed, the tool prints what it prints on the machine itself.
        for (const char16_t* command : {u"/a", u"/d"}) {
            const platform::WCHAR* argv[] = {u"tessary", command, nullptr};
            simulator::Install(machine);
            (void)TessaryMain(2, argv);
            // A copy: the replay below installs a machine of its own.
            std::string direct = simulator::Output(); // NOLINT(performance-unnecessary-copy-initialization)
            EXPECT_EQ(ReplayTool(taken, 2, argv).ToolOutput, direct) << name;
        }
    }
    // The deployment's journal is taken too, but it is no driver key; one
    // that cannot be read stays so in the snapshot, and the check on the
    // snapshot cannot tell, as on the machine, for the same reason. (One that
    // can be read is judged through a snapshot in the deployment's table of
    // modes.)
    Machine closed = TestMachines().front().second;
    closed.Registry.push_back(simulator::Key{JOURNAL_KEY, false, false, {{u"x", {platform::REG_SZ, {0x41, 0}}}}});
    closed.Faults = {testsupport::Failing(simulator::Operation::RegEnumValueW, 1450)};
    simulator::Install(closed);
    Snapshot taken;
    std::string error;
    ASSERT_TRUE(TakeSnapshot(&taken, &error)) << error;
    const simulator::Key* kept = KeyOf(taken.Machine, JOURNAL_KEY);
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->DenyRead);
    EXPECT_EQ(taken.Notes.size(), 1U);
    EXPECT_EQ(CountDriverKeys(taken), taken.Machine.Registry.size() - 1);
    CheckAnswer unread = CheckSnapshot(taken, SettingAction::Add);
    EXPECT_EQ(unread.ExitCode, CHECK_UNREADABLE);
    EXPECT_NE(unread.Line.find("Restarting, cannot be read (error 1450)"), std::string::npos) << unread.Line;
    // An adapter whose instance ID cannot be read, named by an entry left
    // in the journal: the snapshot's double cannot read it either (it would
    // answer an ID of its own, not the entry's), so the entry is taken by its
    // driver key name, as the deployment takes it on the machine.
    Machine unnamed = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless")});
    testsupport::SetOnEveryKey(&unnamed);
    unnamed.Devices[0].InstanceId = u"PCI\\VEN_1234&DEV_5678\\0";
    std::u16string driver = simulator::TextIn(unnamed.Devices[0].Properties[simulator::SLOT_DRIVER].Bytes);
    simulator::Value entry{platform::REG_SZ, simulator::TextBytes(unnamed.Devices[0].InstanceId)};
    unnamed.Registry.push_back(simulator::Key{JOURNAL_KEY, false, false, {{driver, entry}}});
    unnamed.Faults = {testsupport::On(0, testsupport::Failing(simulator::Operation::SetupDiGetDeviceInstanceIdW, 31))};
    unnamed.Faults[0].Times = -1;
    simulator::Install(unnamed);
    CheckAnswer interrupted = testsupport::CheckInstalledMachine(SettingAction::Add);
    EXPECT_EQ(interrupted.ExitCode, CHECK_NOT_COMPLIANT) << interrupted.Line;
    EXPECT_NE(interrupted.Line.find("interrupted run"), std::string::npos) << interrupted.Line;
    // A walk that a failed fetch cut short is no snapshot: the devices past
    // it would replay as absent, and the check would answer for a machine
    // without them.
    Machine cut = TestMachines().front().second;
    cut.Faults = {testsupport::Failing(simulator::Operation::SetupDiEnumDeviceInfo, 5, 2)};
    simulator::Install(cut);
    EXPECT_FALSE(TakeSnapshot(&taken, &error));
    EXPECT_EQ(error, "the list of present devices cannot be read to its end (error 5)");
}

// The names a snapshot may be saved under: Windows must write a file of just
// that name, not a device, a stream or a file of a name it shortened.
TEST(CheckSaveName, RefusesWhatWindowsWouldNotWriteUnderThatName)
{
    const struct {
        std::u16string path;
        const char* refusal; // null for a name that is kept
    } cases[] = {
        {u"snapshot.json", nullptr},
        {u"C:\\support\\con-snapshot.json", nullptr},
        {u"\\\\server\\share\\COM10.json", nullptr},
        {u"\\\\?\\C:\\support\\snapshot.json", nullptr},
        {u"D:snapshot.json", nullptr},
        {u"\U0001F4BE.json", nullptr},
        {u"NUL", "the device NUL"},
        {u"nul.json", "the device nul"},
        {u"C:\\support\\CON .txt", "the device CON"},
        {u"out/com1.json", "the device com1"},
        {u"LPT\u00B9.json", "the device LPT\xC2\xB9"},
        {u"CONOUT$", "the device CONOUT$"},
        {u"\\\\.\\C:\\snapshot.json", "device path"},
        {u"//?/GLOBALROOT/Device/Null", "device path"},
        {u"snapshot.json.", "ends in a dot"},
        {u"snapshot.json ", "ends in a dot or a space"},
        {u"snapshot.json:hidden", "colon"},
        {u"snap*.json", "no Windows file name may have"},
        {u"C:\\support\\", "names a folder"},
        {u"..", "names a folder"},
        {u"", "names a folder"},
        {std::u16string(u"snap") + char16_t(0xD83D) + u".json", "surrogate"},
        {std::u16string(u"snap.json") + char16_t(0xDCBE), "surrogate"},
    };
    for (const auto& c : cases) {
        std::string problem;
        bool kept = CheckSaveName(c.path, &problem);
        std::string shown = simulator::Utf16ToUtf8(c.path);
        EXPECT_EQ(kept, c.refusal == nullptr) << shown << ": " << problem;
        if (c.refusal != nullptr) {
            EXPECT_NE(problem.find(c.refusal), std::string::npos) << shown << ": " << problem;
        }
    }
}

TEST(ReplayTool, ReportsWhatTheRunWouldChange)
{
    const platform::WCHAR* add[] = {u"tessary", u"/a", nullptr};
    simulator::Install(TestMachines().front().second); // the demo machine
    Snapshot demo;
    std::string error;
    ASSERT_TRUE(TakeSnapshot(&demo, &error));
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    // Taken without elevation, each key opens for writing as its own
    // security allowed this process: one that let it in is written, one that
    // did not is refused, and the class installer refuses every adapter.
    Snapshot unelevated = demo;
    unelevated.Machine.Elevated = false;
    unelevated.Machine.Registry[0].DenyFullAccess = true;
    // A key whose security could not be judged is noted, and taken as closed.
    simulator::Install(testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless")},
                                              {testsupport::Failing(simulator::Operation::CheckKeyAccess, 1347)}));
    Snapshot unjudged;
    ASSERT_TRUE(TakeSnapshot(&unjudged, &error));
    struct Case {
        const Snapshot* snapshot;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        {&demo,
         {"react as adapters do", key + "0001: WapiSupport none -> REG_SZ (31 00)\n",
          key + "0005: WapiSupport none -> REG_SZ (31 00)\n",
          "device 2, Corvane AX210 Wireless Network Adapter ({4d36e972-e325-11ce-bfc1-08002be10318}\\0001): "
          "disabled, then enabled\n"},
         {"not elevated"}},
        {&unelevated,
         {"not elevated", "disabled (refused)", key + "0005: WapiSupport none -> REG_SZ (31 00)\n"},
         {key + "0001: WapiSupport none ->"}},
        {&unjudged,
         {"0001: its security could not be judged (error 1347), so it is taken as closed to full access.\n"},
         {key + "0001: WapiSupport none ->"}},
    };
    for (const Case& c : cases) {
        std::string changes = ReplayTool(*c.snapshot, 2, add).Changes;
        for (const std::string& line : c.present) {
            EXPECT_NE(changes.find(line), std::string::npos) << line << "\n" << changes;
        }
        for (const std::string& line : c.absent) {
            EXPECT_EQ(changes.find(line), std::string::npos) << line << "\n" << changes;
        }
    }
}

TEST(ReadPreflightCommand, TakesEachCommandWholeAndNothingElse)
{
    using Kind = PreflightCommand::Kind;
    struct Case {
        std::vector<std::u16string> words; // after the program's name
        Kind what;
        SettingAction action;
        std::string mode;
    } cases[] = {
        {{}, Kind::Usage, SettingAction::Add, ""},
        {{u"/a"}, Kind::Replay, SettingAction::Add, ""},
        {{u"/dx", u"more"}, Kind::Replay, SettingAction::Delete, ""}, // as the tool reads it
        {{u"--save", u"m.json"}, Kind::Save, SettingAction::Add, ""},
        {{u"--save"}, Kind::Usage, SettingAction::Add, ""},
        {{u"--save", u"m.json", u"n.json"}, Kind::Usage, SettingAction::Add, ""},
        {{u"--check", u"/d"}, Kind::Check, SettingAction::Delete, "--check"},
        {{u"--compliance-value", u"/a"}, Kind::Check, SettingAction::Add, "--compliance-value"},
        {{u"--check", u"/x"}, Kind::Usage, SettingAction::Add, ""},
        {{u"--check", u"/a", u"more"}, Kind::Usage, SettingAction::Add, ""},
        {{u"--Check", u"/a"}, Kind::Usage, SettingAction::Add, ""},
        {{u"--check"}, Kind::Usage, SettingAction::Add, ""},
    };
    for (const Case& c : cases) {
        std::vector<const platform::WCHAR*> argv = {u"tessary-preflight.exe"};
        std::string shown;
        for (const std::u16string& word : c.words) {
            argv.push_back(word.c_str());
            shown += " " + simulator::Utf16ToUtf8(word);
        }
        PreflightCommand got = ReadPreflightCommand(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(got.What, c.what) << shown;
        if (c.what == Kind::Replay || c.what == Kind::Check) {
            EXPECT_EQ(got.Action, c.action) << shown;
        }
        EXPECT_EQ(got.Mode, c.mode) << shown;
        EXPECT_EQ(got.File, c.what == Kind::Save ? argv[2] : nullptr) << shown;
    }
}

TEST(CheckSnapshot, JudgesTheSettingOnTheAdaptersTheToolWouldPick)
{
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    simulator::Value set{platform::REG_SZ, {0x31, 0}};
    simulator::Value terminated{platform::REG_SZ, {0x31, 0, 0, 0}};
    simulator::Value other{platform::REG_SZ, {0x30, 0}};
    // Texts that begin with "1" but are not "1"; "1" with more after its
    // terminator; and "1" in a value larger than a fixed buffer would hold.
    simulator::Value ten{platform::REG_SZ, {0x31, 0, 0x30, 0}};
    simulator::Value oneSpace{platform::REG_SZ, {0x31, 0, 0x20, 0, 0, 0}};
    simulator::Value oneThenMore{platform::REG_SZ, {0x31, 0, 0, 0, 0x41, 0}};
    simulator::Value large{platform::REG_SZ, {0x31, 0, 0, 0}};
    large.Data.resize(70000, 0x41);
    // Two adapters (the second's key set) and what the first's key holds.
    enum KeyState { Plain, Unreadable, Missing };
    auto two = [&set](const std::vector<simulator::Value>& values, KeyState state) {
        simulator::Machine machine = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless", "PCI", "0001"),
                                                             testsupport::NetDevice("Corvane Wi-Fi", "USB", "0005"),
                                                             testsupport::NetDevice("Mouse", "USB", "0006")});
        for (const simulator::Value& value : values) {
            machine.Registry[0].Values.emplace_back(u"WapiSupport", value);
        }
        if (state == Unreadable) { // ERROR_NO_SYSTEM_RESOURCES, as the check's own read meets it
            machine.Faults = {testsupport::Failing(simulator::Operation::RegOpenKeyExW, 1450, 1)};
        }
        machine.Registry[1].Values.emplace_back(u"WAPISUPPORT", set);
        if (state == Missing) {
            machine.Registry.erase(machine.Registry.begin());
        }
        return machine;
    };
    // A key's name with a line break; a device that waits for a restart, and
    // a key whose security could not be judged, named where they matter. (No
    // adapter, and no list of devices, are in the deployment's table of
    // modes.)
    simulator::Machine lineBreak = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless", "PCI", "0\n1")});
    simulator::Device waits = testsupport::NetDevice("Corvane Wireless", "PCI", "0001");
    waits.Status |= platform::DN_NEED_RESTART;
    simulator::Machine waiting = // ERROR_CANT_OPEN_ANONYMOUS
        testsupport::MachineOf({waits}, {testsupport::Failing(simulator::Operation::CheckKeyAccess, 1347)});
    const std::string restart = "absent from 1 adapter; 1 adapter waits for a restart of the computer before the "
                                "setting is in force: " +
                                key + "0001";
    // The exit code and a piece of the line, for /a and then /d.
    struct Case {
        const char* name;
        simulator::Machine machine;
        int add;
        std::string addLine;
        int remove;
        std::string removeLine;
    } cases[] = {
        {"set by /a", two({set}, Plain), 0, "Compliant: WapiSupport is set on 2", 1, "not absent from 2 of 2"},
        {"set with its terminator", two({terminated}, Plain), 0, "set on 2 adapters", 1, "(set)"},
        {"another text", two({other}, Plain), 1, "not set on 1 of 2 adapters: ", 1, "(holds another value)"},
        {"ten", two({ten}, Plain), 1, "0001 (holds another value)", 1, "not absent from 2 of 2"},
        {"one and a space", two({oneSpace}, Plain), 1, "0001 (holds another value)", 1, "not absent from 2 of 2"},
        {"one, then more after its end", two({oneThenMore}, Plain), 0, "set on 2 adapters", 1, "0001 (set)"},
        {"larger than a page", two({large}, Plain), 0, "set on 2 adapters", 1, "0001 (set)"},
        {"a line break in the key's name", lineBreak, 1, "0\\x0a1 (not set)", 0, "absent from 1 adapter"},
        {"no value", two({}, Plain), 1, "0001 (not set)", 1, "not absent from 1 of 2 adapters: "},
        {"unreadable", two({set}, Unreadable), 1, "0001 (cannot be read (error 1450))", 1,
         "0001 (cannot be read (error 1450))"},
        {"no key", two({}, Missing), 1, "0001 (no such key)", 1, "0005 (set)"},
        {"waiting", waiting, 1, "0001 (not set; its security could not be judged (error 1347)", CHECK_COMPLIANT,
         restart},
    };
    for (const Case& c : cases) {
        for (SettingAction action : {SettingAction::Add, SettingAction::Delete}) {
            simulator::Install(c.machine);
            CheckAnswer answer = testsupport::CheckInstalledMachine(action);
            bool add = action == SettingAction::Add;
            EXPECT_EQ(answer.ExitCode, add ? c.add : c.remove) << c.name << ": " << answer.Line;
            EXPECT_NE(answer.Line.find(add ? c.addLine : c.removeLine), std::string::npos)
                << c.name << ": " << answer.Line;
            ModeReply reply = ReplyInMode("--check", answer);
            EXPECT_EQ((reply.Out + reply.Error).find('\n'), reply.Out.size() + reply.Error.size() - 1) << c.name;
        }
    }
    // What is added to the line after the judgement (whose a mutex is, why
    // a check stopped) is kept to one line as well.
    EXPECT_EQ(ReplyInMode("--check", {CHECK_NOT_COMPLIANT, "Not compliant: a\r\nb"}).Out,
              "Not compliant: a\\x0d\\x0ab\n");
    EXPECT_EQ(ReplyInMode("--check", {CHECK_UNREADABLE, "stopped: \n"}).Error, "tessary-preflight: stopped: \\x0a\n");
}

} // namespace
