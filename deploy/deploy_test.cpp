// The deployment over the simulated platform (its observer layer passing the
// calls on to it), with its own work on Windows stood in for.
#include "deploy/deploy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "deploy/observer.h"
#include "deploy/outcome.h"
#include "platform/sim/simulator.h"
#include "preflight/check_modes.h"
#include "preflight/replay.h"
#include "tests/support/calls.h"
#include "tests/support/machines.h"

namespace {

class FakeSystem : public DeploySystem {
public:
    std::string UtcTime() override { return "2026-12-07T10:00:00Z"; }
    std::string UserName() override { return "NT AUTHORITY\\SYSTEM"; }
    std::string ErrorText(platform::DWORD error) override { return "(text of " + std::to_string(error) + ")"; }
    bool AppendToLog(const std::string& entry, std::string* /*problem*/) override
    {
        Log += entry;
        return true;
    }
    bool InstallCheck(bool install, std::string* problem) override
    {
        Installed = install;
        *problem = "refused";
        return InstallWorks;
    }
    void Warn(const std::string& line) override { Warnings += line + "\n"; }

    std::string Log;
    std::string Warnings;
    bool Installed = false;
    bool InstallWorks = true;
};

using simulator::Operation;

// Two Corvane adapters, on PCI and USB, with their driver keys.
simulator::Machine TwoAdapters()
{
    return testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless", "PCI", "0001"),
                                   testsupport::NetDevice("Corvane Wi-Fi", "USB", "0005")});
}

int Deploy(const simulator::Machine& machine, const char16_t* command, FakeSystem* system)
{
    simulator::Install(machine);
    observer::Reset(); // as in a new process
    const platform::WCHAR* argv[] = {u"tessary-deploy.exe", command, nullptr};
    return RunDeploy(2, argv, system);
}

// A shipped script's one command: the program it runs and its arguments.
struct ScriptCommand {
    std::string Program;
    std::vector<std::string> Arguments;
};

// The command of a script: the line that runs a program by its quoted path
// ("& \"...\\x.exe\" ..." in PowerShell, "\"%~dp0x.exe\" ..." in a batch
// file), up to the ";" that forwards its exit code.
ScriptCommand CommandOf(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::size_t open = line.find('"');
        if (line.rfind("& \"", 0) != 0 && line.rfind("\"%~dp0", 0) != 0) {
            continue;
        }
        std::size_t close = line.find('"', open + 1);
        std::string program = line.substr(open + 1, close - open - 1);
        ScriptCommand command{program.substr(program.find_last_of("\\0") + 1), {}};
        std::istringstream rest(line.substr(close + 1, line.find(';') - close - 1));
        for (std::string word; rest >> word;) {
            command.Arguments.push_back(word);
        }
        return command;
    }
    ADD_FAILURE() << path << " runs no program";
    return {};
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
    struct Case {
        const char* name;
        std::function<void(M&)> change;
        const char16_t* command;
        int code;
        const char* meaning;
    } cases[] = {
        {"not set", [](M&) {}, u"/a", 0, "success: every adapter's driver key is as wanted, and every adapter"},
        {"no adapter", [&](M& m) { m.Devices = {disabled}; }, u"/a", 0, "no adapter to act on"},
        {"not elevated", [](M& m) { m.Elevated = false; }, u"/a", 1, "failed: not elevated"},
        {"unreadable", [&](M& m) { m.Faults = {noList}; }, u"/a", 1, "the list of present devices cannot be opened"},
        {"vetoed", [](M& m) { m.Devices[0].OnStateChange = simulator::Reaction::Vetoed; }, u"/a", 3010,
         "restart needed"},
        {"not disableable", [](M& m) { m.Devices[0].Status = 0x01800008; }, u"/a", 3010, "(1 adapter not restarted)"},
        {"waiting", [](M& m) { m.Devices[0].Status |= 0x100; }, u"/a", 3010, "(1 adapter waiting for it)"},
        {"unconfirmed", [&](M& m) { m.Faults = {unconfirmed}; }, u"/a", 3010,
         "(1 adapter whose state could not be confirmed)"},
        {"left disabled", [&](M& m) { m.Faults = {enabling}; }, u"/a", 1, "failed: 1 adapter left disabled"},
        {"unwritable", [](M& m) { m.Registry[0].DenyFullAccess = true; }, u"/a", 1,
         "failed: 1 adapter with the driver key not as wanted"},
        {"delete",
         [](M& m) {
             m.Registry[0].Values.emplace_back(u"WapiSupport", simulator::Value{1, {0x31, 0}});
         },
         u"/delete", 0, "success"},
        {"usage", [](M&) {}, u"/x", 2, ""},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        simulator::Machine machine = TwoAdapters();
        c.change(machine);
        EXPECT_EQ(Deploy(machine, c.command, &system), c.code) << c.name << "\n" << system.Log;
        const std::string& output = simulator::Output();
        if (c.code == DEPLOY_USAGE) {
            EXPECT_EQ(output.rfind("Usage: tessary-deploy.exe", 0), 0u) << output;
            continue;
        }
        // One line of its own, last, with the code and its meaning.
        std::string last = output.substr(output.rfind('\n', output.size() - 2) + 1);
        EXPECT_EQ(last.rfind("tessary-deploy: " + std::to_string(c.code) + ", ", 0), 0u) << c.name << ": " << output;
        EXPECT_NE(last.find(c.meaning), std::string::npos) << c.name << ": " << last;
        if (c.code == DEPLOY_FAILED && std::string(c.name) != "left disabled" && std::string(c.name) != "unwritable") {
            EXPECT_EQ(RegistryWrites(), 0u) << c.name; // nothing was run
            EXPECT_EQ(output.find("Tessary Tool"), std::string::npos) << c.name;
        }
        // The log's entry: when, which version, as whom, what, and the outcome.
        if (std::string(c.name) == "unconfirmed") {
            EXPECT_NE(system.Log.find("  the state of SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                      "{4d36e972-e325-11ce-bfc1-08002be10318}\\0005 could not be confirmed after the "
                                      "run (CM_Get_DevNode_Status: CR_NO_SUCH_DEVNODE, 0x0000000D)"),
                      std::string::npos)
                << system.Log;
        }
        if (std::string(c.name) != "not elevated") {
            EXPECT_EQ(system.Log.rfind("2026-12-07T10:00:00Z tessary-deploy ", 0), 0u) << system.Log;
            EXPECT_NE(system.Log.find(" as NT AUTHORITY\\SYSTEM: tessary-deploy.exe "), std::string::npos);
            EXPECT_NE(system.Log.find("  outcome " + std::to_string(c.code) + ": "), std::string::npos) << system.Log;
            EXPECT_EQ(system.Installed, std::u16string(c.command) == u"/a") << c.name;
        } else {
            EXPECT_EQ(output.find('\n'), output.size() - 1) << output; // one line, and nothing logged
            EXPECT_EQ(system.Log, "");
        }
    }
}

TEST(RunDeploy, ActsOnlyWhereTheSettingIsNotAsWantedAndLogsWhatFailed)
{
    // The first /a writes and restarts; a second finds every adapter set and
    // makes no write and no call of the class installer.
    FakeSystem first;
    ASSERT_EQ(Deploy(TwoAdapters(), u"/a", &first), 0);
    EXPECT_EQ(Count("RegSetValueExW"), 2u);
    FakeSystem second;
    EXPECT_EQ(Deploy(simulator::Current(), u"/a", &second), 0);
    EXPECT_EQ(RegistryWrites(), 0u);
    EXPECT_EQ(Count("SetupDiCallClassInstaller"), 0u);
    EXPECT_NE(second.Log.find("already as wanted"), std::string::npos) << second.Log;

    // Every line the tool printed, and each call that failed with its code.
    FakeSystem failing;
    simulator::Machine faulty = TwoAdapters();
    faulty.Faults = {testsupport::Failing(Operation::RegSetValueExW, 5),
                     Changing(Operation::SetupDiCallClassInstaller, 1, 2, 0xE0000231)};
    EXPECT_EQ(Deploy(faulty, u"/a", &failing), 1);
    for (const char* line :
         {"\n  Tessary Tool...\n  Command: Add WapiSupport\n", "\n  ERROR: Add parameter WapiSupport failed!!\n",
          "\n  failed call: RegSetValueExW: 0x00000005 (text of 5)\n",
          "\n  failed call: SetupDiCallClassInstaller: 0xE0000231 (text of 3758096945)\n"}) {
        EXPECT_NE(failing.Log.find(line), std::string::npos) << line << failing.Log;
    }

    // An installed check that cannot be placed fails the run, and says why.
    FakeSystem refusing;
    refusing.InstallWorks = false;
    EXPECT_EQ(Deploy(TwoAdapters(), u"/a", &refusing), 1);
    EXPECT_EQ(refusing.Warnings, "tessary-deploy: the installed check: refused\n");
}

TEST(ShippedScripts, EachRunsOneCommandThatAnswersItsSystemsContract)
{
    // The machines of the contracts' columns, for /a: compliant, not
    // compliant, no adapter to act on, and one that cannot be read.
    simulator::Machine compliant = TwoAdapters();
    for (simulator::Key& key : compliant.Registry) {
        key.Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x31, 0}});
    }
    simulator::Machine unreadable = TwoAdapters();
    unreadable.Faults = {testsupport::Failing(Operation::SetupDiGetClassDevsW, 5)};
    unreadable.Faults[0].Times = -1;
    const simulator::Machine machines[] = {compliant, TwoAdapters(),
                                           testsupport::MachineOf({testsupport::NetDevice("Mouse", "USB", "0006")}),
                                           unreadable};
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    const std::string yes = "Compliant: WapiSupport is set on 2 adapters\n";
    const std::string no =
        "Not compliant: WapiSupport is not set on 2 of 2 adapters: " + key + "0001 (not set), " + key + "0005 (not set)\n";
    const std::string none = "No adapter: tessary.exe would pick no adapter on this machine\n";
    const std::string closed = "no snapshot: the list of present devices cannot be opened (error 5)\n";
    const std::string nothing = "tessary-deploy: 0, success: every adapter was already as wanted. Nothing was changed.\n";
    const std::string done = "tessary-deploy: 0, success: every adapter's driver key is as wanted, and every adapter "
                             "was restarted.\n";
    const std::string noAdapter = "tessary-deploy: 0, success: no adapter to act on. Nothing was changed.\n";
    const std::string failed = "tessary-deploy: 1, failed: the list of present devices cannot be opened. Nothing was "
                               "changed.\n";
    struct Reply {
        int code;
        std::string out; // standard output; for the deployment, its last line
        std::string error;
    };
    struct Case {
        const char* script;
        Reply replies[4]; // by machine, in the order above
    } cases[] = {
        {"intune-detection.ps1", {{0, yes, ""}, {0, "", ""}, {0, none, ""}, {4, "", "tessary-preflight: " + closed}}},
        {"configmgr-detection.ps1", {{0, yes, ""}, {0, "", ""}, {0, none, ""}, {4, "", "tessary-preflight: " + closed}}},
        {"remediation-detection.ps1", {{0, yes, ""}, {1, no, ""}, {0, none, ""}, {1, closed, ""}}},
        {"configmgr-discovery.ps1",
         {{0, "Compliant\n", ""}, {0, "NotCompliant\n", ""}, {0, "NotApplicable\n", ""}, {4, "", "tessary-preflight: " + closed}}},
        {"remediation.ps1", {{0, nothing, ""}, {0, done, ""}, {0, noAdapter, ""}, {1, failed, ""}}},
        {"configmgr-remediation.ps1", {{0, nothing, ""}, {0, done, ""}, {0, noAdapter, ""}, {1, failed, ""}}},
        {"startup.cmd", {{0, nothing, ""}, {0, done, ""}, {0, noAdapter, ""}, {1, failed, ""}}},
    };
    std::size_t scripts = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TESSARY_SOURCE_DIR "/package/scripts")) {
        scripts += entry.path().filename() != "startup-remove.cmd" ? 1 : 0; // /d: run as startup.cmd is
    }
    EXPECT_EQ(scripts, std::size(cases));
    for (const Case& c : cases) {
        ScriptCommand command = CommandOf(std::string(TESSARY_SOURCE_DIR "/package/scripts/") + c.script);
        ASSERT_EQ(command.Arguments.size(), command.Program == "tessary-deploy.exe" ? 1u : 2u) << c.script;
        std::u16string action = simulator::Utf8ToUtf16(command.Arguments.back());
        for (std::size_t m = 0; m < std::size(machines); ++m) {
            ModeReply got{};
            if (command.Program == "tessary-preflight.exe") {
                simulator::Install(machines[m]);
                got = ReplyInMode(command.Arguments[0], CheckMachine(action == u"/a" ? SettingAction::Add
                                                                                     : SettingAction::Delete));
            } else {
                ASSERT_EQ(command.Program, "tessary-deploy.exe") << c.script;
                FakeSystem system;
                got.ExitCode = Deploy(machines[m], action.c_str(), &system);
                const std::string& output = simulator::Output();
                got.Out = output.substr(output.rfind('\n', output.size() - 2) + 1);
            }
            const Reply& want = c.replies[m];
            EXPECT_EQ(got.ExitCode, want.code) << c.script << ", machine " << m;
            EXPECT_EQ(got.Out, want.out) << c.script << ", machine " << m;
            EXPECT_EQ(got.Error, want.error) << c.script << ", machine " << m;
        }
    }
}

} // namespace
