// The deployment over the simulated platform (its observer layer passing the
// calls on to it), with its own work on Windows stood in for.
#include "deploy/deploy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "deploy/observer.h"
#include "deploy/outcome.h"
#include "platform/sim/simulator.h"
#include "preflight/check_modes.h"
#include "preflight/journal.h"
#include "preflight/replay.h"
#include "tests/support/calls.h"
#include "tests/support/check_runs.h"
#include "tests/support/deploy_runs.h"
#include "tests/support/machines.h"

namespace {

using simulator::Operation;
using testsupport::Deploy;
using testsupport::TwoAdapters;
using FakeSystem = testsupport::FakeDeploySystem;

// A shipped script's one command: the program it runs and its arguments, and
// in PowerShell the one statement before it, which says what a missing
// program comes to.
struct ScriptCommand {
    std::string Before;
    std::string Program;
    std::vector<std::string> Arguments;
};

// The command of a script, which must hold nothing but comments and one line
// that runs a program by its quoted path and forwards its exit code: in
// PowerShell, one statement before it, then "& \"...\\x.exe\" ...; exit
// $LASTEXITCODE"; in a batch file, "\"%~dp0..\\x.exe\" ..." then "exit /b
// %errorlevel%".
ScriptCommand CommandOf(const std::string& path)
{
    bool batch = path.size() > 4 && path.compare(path.size() - 4, 4, ".cmd") == 0;
    std::ifstream file(path);
    std::vector<std::string> statements;
    for (std::string line; std::getline(file, line);) {
        line = line.substr(0, line.find_last_not_of('\r') + 1);
        bool comment = batch ? line.rfind("rem ", 0) == 0 || line == "@echo off" : line.rfind('#', 0) == 0;
        if (!comment && !line.empty()) {
            statements.push_back(line);
        }
    }
    const std::string start = batch ? "\"%~dp0..\\" : "& \"$env:ProgramW6432\\Tessary\\";
    const std::string end = batch ? "" : "; exit $LASTEXITCODE";
    const std::size_t at = batch ? 0 : 1; // the command's line
    if (statements.size() != 2 || statements[at].rfind(start, 0) != 0 ||
        statements[at].compare(statements[at].size() - end.size(), end.size(), end) != 0 ||
        (batch && statements[1] != "exit /b %errorlevel%")) {
        ADD_FAILURE() << path << " is not one command that forwards its exit code";
        return {};
    }
    std::string command = statements[at].substr(start.size(), statements[at].size() - start.size() - end.size());
    std::size_t close = command.find('"');
    ScriptCommand script{batch ? "" : statements[0], command.substr(0, close), {}};
    std::istringstream rest(command.substr(close + 1));
    for (std::string word; rest >> word;) {
        script.Arguments.push_back(word);
    }
    return script;
}

simulator::Fault Changing(Operation call, std::int64_t device, platform::DWORD stateChange, platform::DWORD error)
{
    simulator::Fault fault = testsupport::Failing(call, error);
    fault.Device = device;
    fault.StateChange = stateChange;
    return fault;
}

std::size_t Count(const char* operation)
{
    return testsupport::CallsOf(operation).size();
}

// Calls that could change a key: a write, a delete, an open for more than reading.
std::size_t RegistryWrites()
{
    std::size_t writes = Count("RegSetValueExW") + Count("RegDeleteValueW");
    for (const simulator::Call& call : testsupport::CallsOf("RegOpenKeyExW")) {
        writes += call.Argument("access") != "0x20019" ? 1 : 0;
    }
    return writes;
}

// The number of calls of an operation in a run of /a on a machine.
std::size_t CallsInRun(const simulator::Machine& machine, const char* operation)
{
    FakeSystem system;
    (void)Deploy(machine, u"/a", &system);
    return Count(operation);
}

TEST(RunDeploy, AnswersWhatTheRunCameTo)
{
    using M = simulator::Machine;
    simulator::Device disabled = testsupport::NetDevice("Corvane Wireless");
    disabled.Status = 0x01802402;
    disabled.Problem = 22;
    simulator::Fault noList = testsupport::Failing(Operation::SetupDiGetClassDevsW, 5);
    noList.Times = -1;
    const simulator::Fault enabling = Changing(Operation::SetupDiCallClassInstaller, -1, 1, 0xE0000231);
    // The last status read is the second adapter's, after the run.
    simulator::Fault unconfirmed = testsupport::Failing(Operation::CM_Get_DevNode_Status, 0xD);
    unconfirmed.Nth = CallsInRun(TwoAdapters(), "CM_Get_DevNode_Status");
    const simulator::Value set{platform::REG_SZ, {0x31, 0}};
    struct Case {
        const char* name;
        std::function<void(M&)> change;
        const char16_t* command;
        int code;
        const char* meaning;
        bool touched; // a key written or the class installer called
        bool placeable = true;
        RunLock lock = RunLock::Acquired;
        const char* logged = ""; // a line of the log's entry
    } cases[] = {
        {"not set", [](M&) {}, u"/a", 0, "success: every adapter's driver key is as wanted, and every adapter", true},
        {"no adapter", [&](M& m) { m.Devices = {disabled}; }, u"/a", 0,
         "no adapter to act on. Only the installed programs were changed.", false},
        {"busy", [](M&) {}, u"/a", 1618, "busy: another deployment is running", false, true, RunLock::Busy,
         "another deployment held Global\\Tessary throughout the wait: nothing was done"},
        {"name taken", [](M&) {}, u"/a", 1, "failed: Global\\Tessary is taken by an object no deployment made", false,
         true, RunLock::Untrusted,
         "Global\\Tessary is not a deployment's to wait for: it belongs to BUILTIN\\Users, not to Administrators "
         "or SYSTEM; nothing was done"},
        {"abandoned", [](M&) {}, u"/a", 0, "success: every adapter's driver key is as wanted", true, true,
         RunLock::Abandoned, "ended without letting Global\\Tessary go: it was interrupted"},
        {"not elevated", [](M& m) { m.Elevated = false; }, u"/a", 1, "failed: not elevated", false},
        {"unreadable", [&](M& m) { m.Faults = {noList}; }, u"/a", 1, "the list of present devices cannot be opened",
         false},
        {"not placed", [](M&) {}, u"/a", 1, "failed: the installed programs could not be placed", false, false,
         RunLock::Acquired, "the installed programs could not be placed: refused"},
        {"vetoed", [](M& m) { m.Devices[0].OnStateChange = simulator::Reaction::Vetoed; }, u"/a", 3010,
         "restart needed", true},
        {"not disableable", [](M& m) { m.Devices[0].Status = 0x01800008; }, u"/a", 3010, "(1 adapter not restarted)",
         true},
        {"waiting", [](M& m) { m.Devices[0].Status |= 0x100; }, u"/a", 3010, "(1 adapter waiting for it)", true},
        {"unconfirmed", [&](M& m) { m.Faults = {unconfirmed}; }, u"/a", 3010,
         "(1 adapter whose state could not be confirmed)", true, true, RunLock::Acquired,
         "0005 could not be confirmed after the run (CM_Get_DevNode_Status: CR_NO_SUCH_DEVNODE, 0x0000000D); check "
         "the adapter in Device Manager"},
        {"unconfirmed, a key not as wanted",
         [&](M& m) {
             m.Faults = {unconfirmed};
             m.Registry[0].DenyFullAccess = true;
         },
         u"/a", 1, "failed: 1 adapter with the driver key not as wanted.", true},
        {"left disabled", [&](M& m) { m.Faults = {enabling}; }, u"/a", 1, "failed: 1 adapter left disabled", true},
        {"unwritable", [](M& m) { m.Registry[0].DenyFullAccess = true; }, u"/a", 1,
         "failed: 1 adapter with the driver key not as wanted.", true},
        // Every key not as wanted is missing or closed to the tool's open: a
        // run would only drop the connections.
        {"no run can help",
         [](M& m) {
             m.Registry[1].DenyFullAccess = true;
             m.Registry.erase(m.Registry.begin());
         },
         u"/a", 1, "failed: 2 adapters with the driver key not as wanted, which no run can change", false, true,
         RunLock::Acquired,
         "no run can change SYSTEM\\CurrentControlSet\\Control\\Class\\"
         "{4d36e972-e325-11ce-bfc1-08002be10318}\\0001: the key does not exist"},
        {"delete", [&](M& m) { m.Registry[0].Values.emplace_back(u"WapiSupport", set); }, u"/delete", 0, "success",
         true},
        {"not removed", [](M&) {}, u"/d", 1, "failed: the installed programs not removed.", false, false},
        {"usage", [](M&) {}, u"/x", 2, "", false},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        system.InstallWorks = c.placeable;
        system.Lock = c.lock;
        simulator::Machine machine = TwoAdapters();
        c.change(machine);
        EXPECT_EQ(Deploy(machine, c.command, &system), c.code) << c.name << "\n" << system.Log;
        const std::string& output = simulator::Output();
        EXPECT_EQ(RegistryWrites() + Count("SetupDiCallClassInstaller") > 0, c.touched) << c.name;
        EXPECT_EQ(output.find("Tessary Tool") != std::string::npos, c.touched) << c.name;
        if (c.code == USAGE) {
            EXPECT_EQ(output.rfind("Usage: tessary-deploy.exe", 0), 0u) << output;
        } else {
            // One line of its own, last, with the code and its meaning.
            std::string last = output.substr(output.rfind('\n', output.size() - 2) + 1);
            EXPECT_EQ(last.rfind("tessary-deploy: " + std::to_string(c.code) + ", ", 0), 0u)
                << c.name << ": " << output;
            EXPECT_NE(last.find(c.meaning), std::string::npos) << c.name << ": " << last;
        }
        // The log's entry: when, which version, as whom, what, and the
        // outcome; a mistyped command too, but nothing when not elevated.
        if (std::string(c.name) != "not elevated") {
            EXPECT_EQ(system.Log.rfind("2026-12-07T10:00:00Z tessary-deploy ", 0), 0u) << system.Log;
            EXPECT_NE(system.Log.find(" as NT AUTHORITY\\SYSTEM: tessary-deploy.exe " +
                                      simulator::Utf16ToUtf8(c.command) + "\n"),
                      std::string::npos);
            EXPECT_NE(system.Log.find("  outcome " + std::to_string(c.code) + ": "), std::string::npos) << system.Log;
            EXPECT_NE(system.Log.find(c.logged), std::string::npos) << c.name << ": " << c.logged;
            // Nothing is placed while another run may be under way.
            EXPECT_EQ(system.Installed,
                      std::u16string(c.command) == u"/a" && c.lock != RunLock::Busy && c.lock != RunLock::Untrusted)
                << c.name;
        } else {
            EXPECT_EQ(output.find('\n'), output.size() - 1) << output; // one line, and nothing logged
            EXPECT_EQ(system.Log, "");
        }
    }
}

TEST(RunDeploy, ActsOnlyWhereTheSettingIsNotAsWantedAndLogsWhatAHelpDeskNeeds)
{
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    // The first /a places the programs, notes each key's setting as it was
    // (a driver's own "0" too), writes and restarts; a second finds every
    // adapter set and makes no write and no call of the class installer.
    FakeSystem first;
    simulator::Machine own = TwoAdapters();
    own.Registry[1].Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x30, 0, 0, 0}});
    ASSERT_EQ(Deploy(own, u"/a", &first), 0);
    EXPECT_EQ(testsupport::CallSummary({"name"}, {"RegSetValueExW"}),
              std::vector<std::string>({"RegSetValueExW name=\"WapiSupport\"",
                                        "RegSetValueExW name=\"{4d36e972-e325-11ce-bfc1-08002be10318}\\\\0001\"",
                                        "RegSetValueExW name=\"WapiSupport\"",
                                        "RegSetValueExW name=\"{4d36e972-e325-11ce-bfc1-08002be10318}\\\\0005\""}));
    FakeSystem second;
    EXPECT_EQ(Deploy(simulator::Current(), u"/a", &second), 0);
    EXPECT_EQ(RegistryWrites(), 0u);
    EXPECT_EQ(Count("SetupDiCallClassInstaller"), 0u);
    EXPECT_NE(second.Log.find("already as wanted"), std::string::npos) << second.Log;

    // Every line the tool printed, and each call that failed with its code
    // and the system's text for it.
    FakeSystem failing;
    simulator::Machine faulty = TwoAdapters();
    faulty.Faults = {testsupport::Failing(Operation::RegSetValueExW, 5),
                     Changing(Operation::SetupDiCallClassInstaller, 1, 2, 0xE0000231)};
    EXPECT_EQ(Deploy(faulty, u"/a", &failing), 1);

    // No adapter: the near misses, each with why it was passed over.
    simulator::Device disabled = testsupport::NetDevice("Corvane Wi-Fi 6", "USB", "0003");
    disabled.Status |= platform::DN_HAS_PROBLEM;
    disabled.Problem = platform::CM_PROB_DISABLED;
    FakeSystem none;
    EXPECT_EQ(Deploy(testsupport::MachineOf({testsupport::NetDevice("CORVANE Wireless", "PCI", "0001"),
                                             testsupport::NetDevice("Corvane Ethernet", "PCI", "0002"), disabled,
                                             testsupport::NetDevice("Corvane Wireless", "SD", "0004"),
                                             testsupport::NetDevice("Mouse", "USB", "0005")}),
                     u"/a", &none),
              0);
    FakeSystem removing;
    EXPECT_EQ(Deploy(own, u"/d", &removing), 0);

    struct Case {
        const FakeSystem* system;
        std::vector<std::string> lines;
    } cases[] = {
        {&first,
         {"  installed program: C:\\Program Files\\Tessary\\tessary-preflight.exe placed\n  before the run: " + key +
          "0001: WapiSupport absent\n  before the run: " + key +
          "0005: WapiSupport REG_SZ, 4 bytes: 30 00 00 00\n  Tessary Tool...\n"}},
        {&failing,
         {"\n  Tessary Tool...\n  Command: Add WapiSupport\n", "\n  ERROR: Add parameter WapiSupport failed!!\n",
          "\n  failed call: RegSetValueExW: 0x00000005 (text of 5)\n",
          "\n  failed call: SetupDiCallClassInstaller: 0xE0000231 (text of 3758096945)\n"}},
        {&none,
         {"  not picked: device 0, CORVANE Wireless ({4d36e972-e325-11ce-bfc1-08002be10318}\\0001): its description "
          "begins with \"CORVANE\", not \"Corvane\"\n  not picked: device 1, Corvane Ethernet "
          "({4d36e972-e325-11ce-bfc1-08002be10318}\\0002): its description holds neither \"Wireless\" nor \"Wi-Fi\"",
          "\n  not picked: device 2, Corvane Wi-Fi 6 ({4d36e972-e325-11ce-bfc1-08002be10318}\\0003): it is disabled; ",
          "\n  not picked: device 3, Corvane Wireless ({4d36e972-e325-11ce-bfc1-08002be10318}\\0004): it is on the bus "
          "\"SD\", not USB or PCI\n  outcome 0: "}},
        {&removing,
         {"  Tessary Tool...\n", "  installed program: C:\\Program Files\\Tessary\\tessary-preflight.exe removed\n"
                                 "  outcome 0: "}},
    };
    for (const Case& c : cases) {
        for (const std::string& line : c.lines) {
            EXPECT_NE(c.system->Log.find(line), std::string::npos) << line << "\n" << c.system->Log;
        }
    }
    EXPECT_EQ(none.Log.find("device 4"), std::string::npos) << none.Log;
}

TEST(ShippedScripts, EachModeAnswersItsSystemsContract)
{
    // The machines of the contracts' columns, for /a: compliant, not
    // compliant, no adapter to act on, one that cannot be read, and one whose
    // only adapter an interrupted run left disabled.
    const simulator::Value set{platform::REG_SZ, {0x31, 0}};
    simulator::Machine compliant = TwoAdapters();
    for (simulator::Key& key : compliant.Registry) {
        key.Values.emplace_back(u"WapiSupport", set);
    }
    simulator::Machine unreadable = TwoAdapters();
    unreadable.Faults = {testsupport::Failing(Operation::SetupDiGetClassDevsW, 5)};
    unreadable.Faults[0].Times = -1;
    simulator::Machine interrupted = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless")});
    interrupted.Devices[0].Status |= platform::DN_HAS_PROBLEM;
    interrupted.Devices[0].Problem = platform::CM_PROB_DISABLED;
    interrupted.Registry[0].Values.emplace_back(u"WapiSupport", set);
    simulator::Key journal;
    journal.Path = JOURNAL_KEY;
    journal.Values.emplace_back(u"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001",
                                simulator::Value{platform::REG_SZ, simulator::TextBytes(u"PCI\\VEN_1")});
    interrupted.Registry.push_back(journal);
    const simulator::Machine machines[] = {compliant, TwoAdapters(),
                                           testsupport::MachineOf({testsupport::NetDevice("Mouse", "USB", "0006")}),
                                           unreadable, interrupted};
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    const std::string yes = "Compliant: WapiSupport is set on 2 adapters\n";
    const std::string no = "Not compliant: WapiSupport is not set on 2 of 2 adapters: " + key + "0001 (not set), " +
                           key + "0005 (not set)\n";
    const std::string none = "No adapter: tessary.exe would pick no adapter on this machine\n";
    const std::string closed = "no snapshot: the list of present devices cannot be opened (error 5)\n";
    const std::string left = "Not compliant: an interrupted run left this adapter disabled: "
                             "{4d36e972-e325-11ce-bfc1-08002be10318}\\0001 (PCI\\VEN_1)\n";
    const std::string deployed = "tessary-deploy: 0, success: ";
    struct Reply {
        int code;
        std::string out; // standard output; for the deployment, its last line
        std::string error;
    };
    struct Case {
        const char* mode; // the pre-flight's option, or the deployment's
        Reply replies[5]; // by machine, in the order above
    } cases[] = {
        {"--check", {{0, yes, ""}, {1, no, ""}, {3, none, ""}, {4, "", "tessary-preflight: " + closed}, {1, left, ""}}},
        {"--detect", {{0, yes, ""}, {0, "", ""}, {0, none, ""}, {4, "", "tessary-preflight: " + closed}, {0, "", ""}}},
        {"--needs-remediation", {{0, yes, ""}, {1, no, ""}, {0, none, ""}, {1, closed, ""}, {1, left, ""}}},
        {"--compliance-value",
         {{0, "Compliant\n", ""},
          {0, "NotCompliant\n", ""},
          {0, "NotApplicable\n", ""},
          {4, "", "tessary-preflight: " + closed},
          {0, "NotCompliant\n", ""}}},
        // The installed deployment, as the remediations run it.
        {"tessary-deploy.exe",
         {{0, deployed + "every adapter was already as wanted. Nothing was changed.\n", ""},
          {0, deployed + "every adapter's driver key is as wanted, and every adapter was restarted.\n", ""},
          {0, deployed + "no adapter to act on. Nothing was changed.\n", ""},
          {1, "tessary-deploy: 1, failed: the list of present devices cannot be opened. Nothing was changed.\n", ""},
          {0,
           deployed + "1 adapter left disabled by an interrupted run enabled again; every adapter was already as "
                      "wanted.\n",
           ""}}},
    };
    for (const Case& c : cases) {
        for (std::size_t m = 0; m < std::size(machines); ++m) {
            ModeReply got{};
            if (std::string(c.mode) == "tessary-deploy.exe") {
                FakeSystem system;
                system.ProgramsInPlace = true;
                got.ExitCode = Deploy(machines[m], u"/a", &system);
                const std::string& output = simulator::Output();
                got.Out = output.substr(output.rfind('\n', output.size() - 2) + 1);
            } else {
                simulator::Install(machines[m]);
                got = ReplyInMode(c.mode, testsupport::CheckInstalledMachine(SettingAction::Add));
            }
            const Reply& want = c.replies[m];
            EXPECT_EQ(got.ExitCode, want.code) << c.mode << ", machine " << m;
            EXPECT_EQ(got.Out, want.out) << c.mode << ", machine " << m;
            EXPECT_EQ(got.Error, want.error) << c.mode << ", machine " << m;
        }
    }
}

TEST(ShippedScripts, EachIsOneCommandThatForwardsItsExitCode)
{
    // Each script in the package, and the command it runs: one of the modes
    // above, or the deployment. Where the installed program is missing, a
    // detection answers "not installed" (exit 0 and nothing, its error kept
    // quiet), and every other script fails (exit 1, and PowerShell's error).
    const std::string quiet = "$ErrorActionPreference = 'SilentlyContinue'";
    const std::string fails = "$global:LASTEXITCODE = 1";
    const std::map<std::string, std::vector<std::string>> commands = {
        {"intune-detection.ps1", {quiet, "tessary-preflight.exe", "--detect", "/a"}},
        {"configmgr-detection.ps1", {quiet, "tessary-preflight.exe", "--detect", "/a"}},
        {"remediation-detection.ps1", {fails, "tessary-preflight.exe", "--needs-remediation", "/a"}},
        {"configmgr-discovery.ps1", {fails, "tessary-preflight.exe", "--compliance-value", "/a"}},
        {"remediation.ps1", {fails, "tessary-deploy.exe", "/a"}},
        {"configmgr-remediation.ps1", {fails, "tessary-deploy.exe", "/a"}},
        {"startup.cmd", {"", "tessary-deploy.exe", "/a"}},
        {"startup-remove.cmd", {"", "tessary-deploy.exe", "/d"}},
    };
    std::size_t scripts = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TESSARY_SOURCE_DIR "/package/scripts")) {
        ++scripts;
        std::string name = entry.path().filename().string();
        ScriptCommand command = CommandOf(entry.path().string());
        std::vector<std::string> words = {command.Before, command.Program};
        words.insert(words.end(), command.Arguments.begin(), command.Arguments.end());
        ASSERT_EQ(commands.count(name), 1u) << name;
        EXPECT_EQ(words, commands.at(name)) << name;
    }
    EXPECT_EQ(scripts, commands.size());
}

} // namespace
