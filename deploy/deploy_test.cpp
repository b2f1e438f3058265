// The deployment over the simulated platform (its observer layer passing the
// calls on to it), with its own work on Windows stood in for.
#include "deploy/deploy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <vector>

#include "common/text_format.h"
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

// The statements of a shipped script: its lines but comments and blank ones,
// without their line ends.
std::vector<std::string> StatementsOf(const std::filesystem::path& path)
{
    bool batch = path.extension() == ".cmd";
    std::ifstream file(path);
    std::vector<std::string> statements;
    for (std::string line; std::getline(file, line);) {
        line = line.substr(0, line.find_last_not_of('\r') + 1);
        bool comment = batch ? line.rfind("rem ", 0) == 0 || line == "@echo off" : line.rfind('#', 0) == 0;
        if (!comment && !line.empty()) {
            statements.push_back(line);
        }
    }
    return statements;
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

TEST(RunDeploy, AnswersWhatTheRunCameToAndLogsWhatAHelpDeskNeeds)
{
    using M = simulator::Machine;
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    const std::string placed = "  installed program: C:\\Program Files\\Tessary\\tessary-preflight.exe placed\n";
    // No adapter: the near misses, each with why it was passed over.
    simulator::Device disabled = testsupport::NetDevice("Corvane Wi-Fi 6", "USB", "0003");
    testsupport::DisableByUser(disabled);
    simulator::Device driverless = testsupport::NetDevice("Corvane Wireless", "PCI", "0007");
    driverless.Properties[simulator::SLOT_DRIVER] = {};
    // The scan holds 259 characters of a description: a wireless word after
    // them is not seen.
    const std::string longName = "Corvane " + std::string(300, 'x') + " Wireless";
    const M nearMisses = testsupport::MachineOf({testsupport::NetDevice("CORVANE Wireless", "PCI", "0001"),
                                                 testsupport::NetDevice("Corvane Ethernet", "PCI", "0002"), disabled,
                                                 testsupport::NetDevice("Corvane Wireless", "SD", "0004"),
                                                 testsupport::NetDevice("Mouse", "USB", "0005"),
                                                 testsupport::NetDevice(longName, "PCI", "0006"), driverless});
    const std::string notPicked = "  not picked: device ";
    const std::string ofClass = " ({4d36e972-e325-11ce-bfc1-08002be10318}\\000";
    const simulator::Fault enabling = testsupport::Failing(Operation::SetupDiCallClassInstaller, 0xE0000231, 0, 1);
    // The last status read is the second adapter's, after the run.
    const simulator::Fault unconfirmed =
        testsupport::Failing(Operation::CM_Get_DevNode_Status, 0xD, CallsInRun(TwoAdapters(), "CM_Get_DevNode_Status"));
    simulator::Fault noList = testsupport::Failing(Operation::SetupDiGetClassDevsW, 5);
    noList.Times = -1;
    // Opened, but no device can be fetched: not a machine without adapters.
    simulator::Fault cutShort = testsupport::Failing(Operation::SetupDiEnumDeviceInfo, 5);
    cutShort.Times = -1;
    const simulator::Value set{platform::REG_SZ, {0x31, 0}};
    // Beside the two, every one set, an adapter its user disabled, whose
    // state the probe of the walk before the run (its second read), or of
    // the tool's walk (its fourth), cannot read: it is picked there, though
    // the user disabled it.
    M besideDisabled = TwoAdapters();
    besideDisabled.Devices.push_back(disabled);
    besideDisabled.Registry.push_back(testsupport::DriverKey("{4d36e972-e325-11ce-bfc1-08002be10318}\\0003"));
    testsupport::SetOnEveryKey(&besideDisabled);
    besideDisabled.Registry.back().Values.clear();
    M withoutFirst = besideDisabled;
    withoutFirst.Registry[0].Values.clear();
    const auto unreadAt = [](M m, std::size_t read) {
        m.Faults = {testsupport::On(
            2, testsupport::Failing(Operation::CM_Get_DevNode_Status, 0xD, testsupport::ReadOf(m, "2", read)))};
        return m;
    };
    const M unreadBefore = unreadAt(besideDisabled, 1);
    const M unreadByTool = unreadAt(withoutFirst, 3);
    struct Case {
        const char* name;
        std::function<void(M&)> change;
        const char16_t* command;
        int code;
        const char* meaning;
        bool touched; // a key written or the class installer called
        bool placeable = true;
        RunLock lock = RunLock::Acquired;
        std::string logged{}; // lines of the log's entry
    } cases[] = {
        // The setting as it was is noted first, a driver's own "0" too.
        {"not set",
         [](M& m) {
             m.Registry[1].Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x30, 0, 0, 0}});
         },
         u"/a", 0, "success: every adapter's driver key is as wanted, and every adapter", true, true, RunLock::Acquired,
         placed + "  before the run: " + key + "0001: WapiSupport absent\n  before the run: " + key +
             "0005: WapiSupport REG_SZ, 4 bytes: 30 00 00 00\n  Tessary Tool...\n  Command: Add WapiSupport\n"},
        // A value far larger than any setting's, by its start.
        {"a large value",
         [&](M& m) {
             m.Registry[1].Values.emplace_back(
                 u"WapiSupport", simulator::Value{platform::REG_SZ, std::vector<std::uint8_t>(3000, 0x41)});
         },
         u"/a", 0, "success", true, true, RunLock::Acquired,
         "0005: WapiSupport REG_SZ, 3000 bytes: " + HexBytes(std::vector<std::uint8_t>(1024, 0x41).data(), 1024) +
             " ... (the first 1024 shown)\n"},
        // Where every adapter is set, no write and no call of the class installer.
        {"already set", [&](M& m) { testsupport::SetOnEveryKey(&m); }, u"/a", 0,
         "success: every adapter was already as wanted.", false},
        {"no adapter", [&](M& m) { m = nearMisses; }, u"/a", 0,
         "no adapter to act on. Only the installed programs were changed.", false, true, RunLock::Acquired,
         placed + notPicked + "0, CORVANE Wireless" + ofClass +
             "1): its description begins with \"CORVANE\", not \"Corvane\"\n" + notPicked + "1, Corvane Ethernet" +
             ofClass + "2): its description holds neither \"Wireless\" nor \"Wi-Fi\" in these letter cases\n" +
             notPicked + "2, Corvane Wi-Fi 6" + ofClass +
             "3): it is disabled; enable it in Device Manager (or pnputil /enable-device) and run the deployment "
             "again\n" +
             notPicked + "3, Corvane Wireless" + ofClass + "4): it is on the bus \"SD\", not USB or PCI\n" + notPicked +
             "5, " + longName + ofClass +
             "6): its description holds neither \"Wireless\" nor \"Wi-Fi\" in these letter cases within its first 259 "
             "characters, all that is read of it\n" +
             notPicked +
             "6, Corvane Wireless (): it has no driver key name: no driver is installed for it\n  outcome 0: "},
        // A failed read of the only adapter is no machine without one.
        {"an adapter unread before the run",
         [](M& m) {
             m = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless", "PCI", "0001")});
             m.Faults = {testsupport::On(0, testsupport::Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 5),
                                         platform::SPDRP_DRIVER)};
         },
         u"/a", 1, "failed: no adapter was picked, but a device that may be one could not be read", false, true,
         RunLock::Acquired, notPicked + "0, Corvane Wireless" + ofClass + "1): it reads now as an adapter to act on"},
        {"an adapter never read",
         [](M& m) {
             m = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless", "PCI", "0001")});
             m.Faults = {testsupport::On(0, testsupport::Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 5),
                                         platform::SPDRP_DRIVER)};
             m.Faults[0].Times = -1;
         },
         u"/a", 1, "failed: no adapter was picked, but a device that may be one could not be read", false, true,
         RunLock::Acquired, notPicked + "0, Corvane Wireless (): its driver key name cannot be read"},
        // One the user disabled is not the run's, whichever walk's read of
        // its state failed: a machine set is not touched, and one the tool
        // reached but did not disable is not one the run left disabled.
        {"a disabled one unread before the run", [&](M& m) { m = unreadBefore; }, u"/a", 0,
         "success: every adapter was already as wanted.", false, true, RunLock::Acquired,
         "  not picked: " + key +
             "0003: it reads as disabled by the user, though the walk's own read of its state "
             "failed\n"},
        {"a disabled one unread by the tool", [&](M& m) { m = unreadByTool; }, u"/a", 0,
         "success: every adapter's driver key is as wanted, and every adapter was restarted.", true, true,
         RunLock::Acquired,
         "  passed over: " + key +
             "0003: it reads as disabled by the user, and this run did not disable it, though the tool wrote its "
             "key"},
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
         false, true, RunLock::Acquired, "  the list of present devices cannot be opened (error 5 ((text of 5)))\n"},
        {"cut short", [&](M& m) { m.Faults = {cutShort}; }, u"/a", 1,
         "failed: the list of present devices cannot be read to its end", false, true, RunLock::Acquired,
         "  the list of present devices cannot be read to its end (error 5 ((text of 5)))\n"},
        {"not placed", [](M&) {}, u"/a", 1, "failed: the installed programs could not be placed", false, false,
         RunLock::Acquired, "the installed programs could not be placed: refused"},
        {"vetoed", [](M& m) { m.Devices[0].OnStateChange = simulator::Reaction::Vetoed; }, u"/a", 3010,
         "restart needed", true},
        {"not disableable", [](M& m) { m.Devices[0].Status = 0x01800008; }, u"/a", 3010, "(1 adapter not restarted)",
         true},
        // One whose key was as wanted before the run owes nothing to a
        // restart the class installer would not do, nor to one its device
        // waited for already.
        {"not disableable, already set",
         [&](M& m) {
             m.Devices[0].Status = 0x01800108;
             m.Registry[0].Values.emplace_back(u"WapiSupport", set);
         },
         u"/a", 0, "and every adapter whose key the run changed was restarted.", true, true, RunLock::Acquired,
         "0001: the class installer did not both disable and enable it; its key was as wanted before the run"},
        {"a key unread after the run",
         // (the seventh query: the second key's first after the run)
         [](M& m) { m.Faults = {testsupport::Failing(Operation::RegQueryValueExW, 5, 7)}; }, u"/a", 1,
         "failed: 1 adapter whose driver key cannot be read after the run", true, true, RunLock::Acquired,
         "  after the run: " + key + "0005: WapiSupport unknown (cannot be read: error 5 ((text of 5)))\n"},
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
        // Every line the tool printed, and each call that failed with its
        // code and the system's text for it, among the lines of its adapter;
        // an adapter not restarted, named.
        {"failed calls",
         [](M& m) {
             // The first adapter's key (after the two journal entries), and
             // the third call of the class installer: the second adapter's
             // disabling.
             m.Faults = {testsupport::Failing(Operation::RegSetValueExW, 5, 3),
                         testsupport::Failing(Operation::SetupDiCallClassInstaller, 0xE0000231, 3, 2)};
         },
         u"/a", 1, "failed: 1 adapter with the driver key not as wanted.", true, true, RunLock::Acquired,
         "  failed call: RegSetValueExW: 0x00000005 (text of 5)\n"
         "  ERROR: Add parameter WapiSupport failed!!\n  Full Driver Key=" +
             key +
             "0005\n  failed call: SetupDiCallClassInstaller: 0xE0000231 (text of 3758096945)\n"
             "  SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n"
             "  not restarted: " +
             key +
             "0005: the class installer did not both disable and enable it, so its driver may run on its old "
             "setting until the computer restarts\n"
             "  journal: {4d36e972-e325-11ce-bfc1-08002be10318}\\0005 (ROOT\\SIMULATED\\0001) is kept: the run "
             "failed, so the restart its adapter's changed key waits for is owed to the next run\n"
             "  outcome 1: "},
        // A text of the second adapter the tool's walk cannot read: the
        // failed read is named, and the adapter's key was never as wanted.
        {"a text unread",
         [](M& m) {
             m.Faults = {testsupport::Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 5,
                                              testsupport::ReadOf(m, "1", 1, "0"))};
         },
         u"/a", 1, "failed: 1 adapter with the driver key not as wanted.", true, true, RunLock::Acquired,
         "0001\n  failed call: SetupDiGetDeviceRegistryPropertyW: 0x00000005 (text of 5)\n  not restarted: " + key +
             "0005: the class installer did not both disable and enable it; the run did not change its key either\n"},
        // Restarted, but the install parameters after the first adapter's
        // enable cannot be read: the restart Windows may have asked for is
        // answered for.
        {"a request unread",
         [](M& m) { m.Faults = {testsupport::Failing(Operation::SetupDiGetDeviceInstallParamsW, 5, 2)}; }, u"/a", 3010,
         "restart needed: every adapter's driver key is as wanted, in force after a restart of the computer "
         "(whether Windows asked for it after an enable could not be read).",
         true, true, RunLock::Acquired,
         "0005\n  restarted: " + key +
             "0001: the class installer disabled and enabled it, but its install parameters could not be read after "
             "the enable"},
        // Every key not as wanted is missing or closed to the tool's open: a
        // run would only drop the connections.
        {"no run can help",
         [](M& m) {
             m.Registry[1].DenyFullAccess = true;
             m.Registry.erase(m.Registry.begin());
         },
         u"/a", 1, "failed: 2 adapters with the driver key not as wanted or not readable, which no run can change",
         false, true, RunLock::Acquired, "no run can change " + key + "0001: the key does not exist"},
        {"delete", [&](M& m) { m.Registry[0].Values.emplace_back(u"WapiSupport", set); }, u"/delete", 0, "success",
         true, true, RunLock::Acquired,
         "  installed program: C:\\Program Files\\Tessary\\tessary-preflight.exe removed\n  outcome 0: "},
        {"not removed", [](M&) {}, u"/d", 1, "failed: the installed programs not removed.", false, false},
        {"delete failed",
         [&](M& m) {
             m.Registry[0].Values.emplace_back(u"WapiSupport", set);
             m.Registry[0].DenyFullAccess = true;
             m.Registry[1].Values.emplace_back(u"WapiSupport", set);
         },
         u"/d", 1, "failed: 1 adapter with the driver key not as wanted.", true, true, RunLock::Acquired,
         "the installed programs are kept, since the run failed"},
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
            EXPECT_NE(system.Log.find(c.logged), std::string::npos) << c.name << ": " << c.logged << "\n" << system.Log;
            // One entry: begun before the run's first write where it acts,
            // and ended in a second append.
            EXPECT_EQ(system.Log.find("2026-12-07T10:00:00Z", 1), std::string::npos) << system.Log;
            // An adapter only the tool's walk picked has its key as it stood
            // written as the tool opens it, in an append of its own.
            const std::vector<bool> appends = !c.touched ? std::vector<bool>{false}
                                              : std::string(c.name) == "a disabled one unread by the tool"
                                                  ? std::vector<bool>{false, true, true}
                                                  : std::vector<bool>{false, true};
            EXPECT_EQ(system.Appends, appends) << c.name;
            // An adapter left disabled is not called one that runs.
            EXPECT_TRUE(std::string(c.name) != "left disabled" ||
                        system.Log.find("not restarted:") == std::string::npos)
                << system.Log;
            // The installed check goes only with a /d that did not fail
            // before it, and stays to report the machine otherwise.
            EXPECT_EQ(system.Removed, c.command[1] == u'd' && (c.code != DEPLOY_FAILED || !c.placeable)) << c.name;
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

TEST(ShippedScripts, EachModeAnswersItsSystemsContract)
{
    // The machines of the contracts' columns, for /a: compliant, not
    // compliant, no adapter to act on, one that cannot be read, one whose
    // only adapter an interrupted run left disabled, and one whose only
    // adapter's driver key name cannot be read (no adapter is not known).
    const simulator::Value set{platform::REG_SZ, {0x31, 0}};
    simulator::Machine compliant = TwoAdapters();
    testsupport::SetOnEveryKey(&compliant);
    simulator::Machine unreadable = TwoAdapters();
    unreadable.Faults = {testsupport::Failing(Operation::SetupDiGetClassDevsW, 5)};
    unreadable.Faults[0].Times = -1;
    simulator::Machine interrupted = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless")});
    testsupport::DisableByUser(interrupted.Devices[0]);
    interrupted.Devices[0].InstanceId = u"PCI\\VEN_1";
    interrupted.Registry[0].Values.emplace_back(u"WapiSupport", set);
    interrupted.Registry.push_back(testsupport::JournalKey({{"0001", u"PCI\\VEN_1"}}));
    simulator::Machine unsure = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless", "PCI", "0001")});
    unsure.Faults = {testsupport::On(0, testsupport::Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 5),
                                     platform::SPDRP_DRIVER)};
    unsure.Faults[0].Times = -1;
    const simulator::Machine machines[] = {
        compliant,  TwoAdapters(), testsupport::MachineOf({testsupport::NetDevice("Mouse", "USB", "0006")}),
        unreadable, interrupted,   unsure};
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    const std::string yes = "Compliant: WapiSupport is set on 2 adapters\n";
    const std::string no = "Not compliant: WapiSupport is not set on 2 of 2 adapters: " + key + "0001 (not set), " +
                           key + "0005 (not set)\n";
    const std::string none = "No adapter: tessary.exe would pick no adapter on this machine\n";
    const std::string closed = "no snapshot: the list of present devices cannot be opened (error 5)\n";
    const std::string left = "Not compliant: an interrupted run left this adapter disabled: "
                             "{4d36e972-e325-11ce-bfc1-08002be10318}\\0001 (PCI\\VEN_1)\n";
    const std::string deployed = "tessary-deploy: 0, success: ";
    const std::string unknown = "No adapter was picked, but a device that may be one cannot be read: device 0, "
                                "Corvane Wireless (): its driver key name cannot be read\n";
    struct Reply {
        int code;
        std::string out; // standard output; for the deployment, its last line
        std::string error;
    };
    struct Case {
        const char* mode; // the pre-flight's option, or the deployment's
        Reply replies[6]; // by machine, in the order above
    } cases[] = {
        {"--check",
         {{0, yes, ""},
          {1, no, ""},
          {3, none, ""},
          {4, "", "tessary-preflight: " + closed},
          {1, left, ""},
          {4, "", "tessary-preflight: " + unknown}}},
        {"--detect",
         {{0, yes, ""},
          {0, "", ""},
          {0, none, ""},
          {4, "", "tessary-preflight: " + closed},
          {0, "", ""},
          {4, "", "tessary-preflight: " + unknown}}},
        {"--needs-remediation",
         {{0, yes, ""}, {1, no, ""}, {0, none, ""}, {1, closed, ""}, {1, left, ""}, {1, unknown, ""}}},
        {"--compliance-value",
         {{0, "Compliant\n", ""},
          {0, "NotCompliant\n", ""},
          {0, "NotApplicable\n", ""},
          {4, "", "tessary-preflight: " + closed},
          {0, "NotCompliant\n", ""},
          {4, "", "tessary-preflight: " + unknown}}},
        // The installed deployment, as the remediations run it.
        {"tessary-deploy.exe",
         {{0, deployed + "every adapter was already as wanted. Nothing was changed.\n", ""},
          {0, deployed + "every adapter's driver key is as wanted, and every adapter was restarted.\n", ""},
          {0, deployed + "no adapter to act on. Nothing was changed.\n", ""},
          {1, "tessary-deploy: 1, failed: the list of present devices cannot be opened. Nothing was changed.\n", ""},
          {0,
           deployed + "1 adapter left disabled by an interrupted run enabled again; every adapter was already as "
                      "wanted.\n",
           ""},
          {1,
           "tessary-deploy: 1, failed: no adapter was picked, but a device that may be one could not be read (see the "
           "log). Nothing was changed.\n",
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
    // Each script in the package runs one of the modes above, or the
    // deployment, by its quoted path, and forwards its exit code. Where the
    // installed program is missing, a detection answers "not installed"
    // (exit 0 and nothing, its error kept quiet), and every other script
    // fails (exit 1, and PowerShell's error): the one statement before the
    // command says which.
    const std::string quiet = "$ErrorActionPreference = 'SilentlyContinue'";
    const std::string fails = "$global:LASTEXITCODE = 1";
    auto ps = [](const std::string& before, const std::string& program, const std::string& arguments) {
        return std::vector<std::string>{before, "& \"$env:ProgramW6432\\Tessary\\" + program + "\" " + arguments +
                                                    "; exit $LASTEXITCODE"};
    };
    auto cmd = [](const std::string& arguments) {
        return std::vector<std::string>{"\"%~dp0..\\tessary-deploy.exe\" " + arguments, "exit /b %errorlevel%"};
    };
    const std::map<std::string, std::vector<std::string>> scripts = {
        {"intune-detection.ps1", ps(quiet, "tessary-preflight.exe", "--detect /a")},
        {"configmgr-detection.ps1", ps(quiet, "tessary-preflight.exe", "--detect /a")},
        {"remediation-detection.ps1", ps(fails, "tessary-preflight.exe", "--needs-remediation /a")},
        {"configmgr-discovery.ps1", ps(fails, "tessary-preflight.exe", "--compliance-value /a")},
        {"remediation.ps1", ps(fails, "tessary-deploy.exe", "/a")},
        {"configmgr-remediation.ps1", ps(fails, "tessary-deploy.exe", "/a")},
        {"startup.cmd", cmd("/a")},
        {"startup-remove.cmd", cmd("/d")},
    };
    std::size_t found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TESSARY_SOURCE_DIR "/package/scripts")) {
        ++found;
        std::string name = entry.path().filename().string();
        ASSERT_EQ(scripts.count(name), 1u) << name;
        EXPECT_EQ(StatementsOf(entry.path()), scripts.at(name)) << name;
    }
    EXPECT_EQ(found, scripts.size());
}

} // namespace
