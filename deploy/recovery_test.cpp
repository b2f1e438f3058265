// Runs cut short: the journal kept around each disable, a deployment killed
// at each call in turn and run again, and the recovery of what an
// interrupted run left behind.
#include "deploy/recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "deploy/outcome.h"
#include "platform/sim/simulator.h"
#include "preflight/compliance.h"
#include "preflight/replay.h"
#include "tests/support/calls.h"
#include "tests/support/check_runs.h"
#include "tests/support/deploy_runs.h"
#include "tests/support/machines.h"

namespace {

using simulator::Operation;
using testsupport::Deploy;
using testsupport::DisableByUser;
using testsupport::Disabled;
using testsupport::Failing;
using testsupport::FakeDeploySystem;
using testsupport::JournalKey;
using testsupport::JournalOf;
using testsupport::KillAt;
using testsupport::On;
using testsupport::TwoAdapters;

// Marks a call of operation that asks the device at index for a state
// change ("1" enable, "2" disable).
std::function<bool(const simulator::Call&)> AsksFor(const std::string& operation, const std::string& index,
                                                    const std::string& stateChange)
{
    return [=](const simulator::Call& call) {
        return call.Operation == operation && call.Argument("index") == index &&
               call.Argument("stateChange") == stateChange;
    };
}

// In the last run's trace, the number among the calls of operation (as a
// fault's Nth counts them) of the first one that matches after the first
// call that marks where to look from; 0 when there is none.
std::uint64_t FirstCallAfter(const std::function<bool(const simulator::Call&)>& marks, const std::string& operation,
                             const std::function<bool(const simulator::Call&)>& matches)
{
    std::uint64_t calls = 0;
    bool marked = false;
    for (const simulator::Call& call : simulator::Trace()) {
        if (call.Operation == operation) {
            ++calls;
            if (marked && matches(call)) {
                return calls;
            }
        }
        marked = marked || marks(call);
    }
    return 0;
}

// Visits each call of the last run's trace with the path of the key it
// names (empty when none).
void WithKeyPaths(const std::function<void(const simulator::Call&, const std::string&)>& visit)
{
    std::map<std::string, std::string> paths;
    for (const simulator::Call& call : simulator::Trace()) {
        visit(call, paths[call.Argument("key")]);
        if (call.Operation == "RegOpenKeyExW" || call.Operation == "RegCreateKeyExW") {
            paths[call.Result("key")] = call.Argument("path");
        }
    }
}

// The keys flushed and the journal entries deleted, in their order:
// "flush <key path>", "clear <entry name>".
std::vector<std::string> FlushesAndClears()
{
    std::vector<std::string> seen;
    WithKeyPaths([&](const simulator::Call& call, const std::string& path) {
        if (call.Operation == "RegFlushKey") {
            seen.push_back("flush " + path);
        } else if (call.Operation == "RegDeleteValueW") {
            seen.push_back("clear " + call.Argument("name"));
        }
    });
    return seen;
}

// Whether, in the last run's trace, each journal entry that named a disable
// (REG_SZ, in the machine it ran on or as written since) and was written
// again as naming none after an enable came after a flush of the SYSTEM hive
// since that enable: else a power loss could keep the disable while the
// entry no longer names it.
bool EnablesOnDiskBeforeEntriesNameNoDisable(const simulator::Machine& machine)
{
    std::set<std::string> namingDisable;
    for (const auto& [name, value] : JournalOf(machine)) {
        if (value.Type == platform::REG_SZ) {
            namingDisable.insert(simulator::QuoteText(name));
        }
    }
    bool enableUnflushed = false;
    bool inOrder = true;
    WithKeyPaths([&](const simulator::Call& call, const std::string& path) {
        if (call.Operation == "SetupDiCallClassInstaller") {
            enableUnflushed = enableUnflushed || (call.Argument("stateChange") == "1" && call.Result("ok") == "1");
        } else if (call.Operation == "RegFlushKey") {
            enableUnflushed = enableUnflushed && (path.rfind("\"SYSTEM", 0) != 0 || call.Result("result") != "0");
        } else if (call.Operation == "RegDeleteValueW" && call.Result("result") == "0") {
            namingDisable.erase(call.Argument("name"));
        } else if (call.Operation == "RegSetValueExW" && path.find("Tessary") != std::string::npos) {
            if (call.Argument("type") == "1") {
                namingDisable.insert(call.Argument("name"));
            } else if (namingDisable.erase(call.Argument("name")) > 0 && enableUnflushed) {
                inOrder = false;
            }
        }
    });
    return inOrder;
}

// The number, as a fault's Nth counts them, of the last run's last flush
// and its last deletion, which must be its last two steps: the journal's
// last clear and its flush.
std::pair<std::uint64_t, std::uint64_t> LastClearAndFlush()
{
    std::vector<std::string> seen = FlushesAndClears();
    EXPECT_TRUE(seen.size() >= 2 && seen.back().rfind("flush", 0) == 0 && seen[seen.size() - 2].rfind("clear", 0) == 0);
    auto flushes = static_cast<std::uint64_t>(
        std::count_if(seen.begin(), seen.end(), [](const std::string& step) { return step.rfind("flush", 0) == 0; }));
    return {seen.size() - flushes, flushes};
}

// Two adapters, the second's driver refusing to stop, so that its disable
// waits for the next boot; for /a, the first with its driver's own "0", for
// /d, with the setting on both.
simulator::Machine Adapters(const char16_t* command)
{
    simulator::Machine machine = TwoAdapters();
    machine.Devices[1].OnStateChange = simulator::Reaction::Vetoed;
    if (std::u16string(command) == u"/a") {
        machine.Registry[0].Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x30, 0, 0, 0}});
    }
    for (simulator::Key& key : machine.Registry) {
        if (std::u16string(command) == u"/d") {
            key.Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x31, 0}});
        }
    }
    return machine;
}

TEST(InterruptedRuns, TheJournalHoldsEachAdapterOnDiskBeforeItsKeyIsWritten)
{
    FakeDeploySystem system;
    ASSERT_EQ(Deploy(TwoAdapters(), u"/a", &system), 0) << system.Log;
    // Both entries are written and flushed before the first key's write, as
    // naming no disable yet; each is written again and flushed before its
    // adapter's disable, and cleared after its enable; the run leaves the
    // journal empty.
    std::vector<std::string> calls = testsupport::CallSummary(
        {"stateChange", "name"}, {"RegSetValueExW", "RegFlushKey", "RegDeleteValueW", "SetupDiCallClassInstaller"});
    const std::string entry = "\"{4d36e972-e325-11ce-bfc1-08002be10318}\\\\000";
    const std::vector<std::string> expected = {"RegSetValueExW name=" + entry + "1\"",
                                               "RegFlushKey",
                                               "RegSetValueExW name=" + entry + "5\"",
                                               "RegFlushKey",
                                               "RegSetValueExW name=\"WapiSupport\"",
                                               "RegSetValueExW name=" + entry + "1\"",
                                               "RegFlushKey",
                                               "SetupDiCallClassInstaller stateChange=2",
                                               "SetupDiCallClassInstaller stateChange=1",
                                               "RegFlushKey",
                                               "RegDeleteValueW name=" + entry + "1\"",
                                               "RegFlushKey",
                                               "RegSetValueExW name=\"WapiSupport\"",
                                               "RegSetValueExW name=" + entry + "5\"",
                                               "RegFlushKey",
                                               "SetupDiCallClassInstaller stateChange=2",
                                               "SetupDiCallClassInstaller stateChange=1",
                                               "RegFlushKey",
                                               "RegDeleteValueW name=" + entry + "5\"",
                                               "RegFlushKey"};
    EXPECT_EQ(calls, expected);
    // Before an entry goes, the hive that keeps the devices' states is
    // written out (through the adapter's driver key), its enable with it.
    const std::string journal = "flush \"SOFTWARE\\\\Tessary\\\\Restarting\"";
    const std::string driverKey = "flush \"SYSTEM\\\\CurrentControlSet\\\\Control\\\\Class\\\\" + entry.substr(1);
    EXPECT_EQ(FlushesAndClears(),
              (std::vector<std::string>{journal, journal, journal, driverKey + "1\"", "clear " + entry + "1\"", journal,
                                        journal, driverKey + "5\"", "clear " + entry + "5\"", journal}));
    // Through the hive's root where the driver key is gone (the tool
    // restarts such an adapter all the same).
    simulator::Machine keyless = TwoAdapters();
    keyless.Registry.erase(keyless.Registry.begin() + 1);
    keyless.Registry.emplace_back();
    keyless.Registry.back().Path = u"SYSTEM";
    FakeDeploySystem unkeyed;
    (void)Deploy(keyless, u"/a", &unkeyed);
    std::vector<std::string> written = FlushesAndClears();
    EXPECT_EQ(std::vector<std::string>(written.end() - 3, written.end()),
              (std::vector<std::string>{"flush \"SYSTEM\"", "clear " + entry + "5\"", journal}))
        << unkeyed.Log;
    EXPECT_TRUE(JournalOf(simulator::Current()).empty());

    // The second adapter goes away between the read and the tool's walk,
    // which never reaches it, and its state cannot be read afterwards: this
    // run did not disable it, so its entry is not left to say it may have.
    simulator::Machine vanishing = TwoAdapters();
    FakeDeploySystem probe;
    (void)Deploy(vanishing, u"/a", &probe);
    // The tool's fetch of the second comes after its restart of the first.
    std::uint64_t fetch = FirstCallAfter(
        [](const simulator::Call& call) { return call.Operation == "SetupDiCallClassInstaller"; },
        "SetupDiEnumDeviceInfo", [](const simulator::Call& call) { return call.Argument("index") == "1"; });
    ASSERT_NE(fetch, 0u);
    vanishing.Faults = {Failing(Operation::SetupDiEnumDeviceInfo, platform::ERROR_NO_MORE_ITEMS, fetch)};
    (void)Deploy(vanishing, u"/a", &probe);
    // Its state read after the run, the last one, fails too.
    vanishing.Faults.push_back(
        Failing(Operation::CM_Get_DevNode_Status, 0xD, testsupport::CallsOf("CM_Get_DevNode_Status").size()));
    FakeDeploySystem away;
    EXPECT_EQ(Deploy(vanishing, u"/a", &away), DEPLOY_FAILED) << away.Log; // its key was never written
    EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << away.Log;

    // The second entry is written but cannot be flushed: no key is written,
    // no adapter restarted, and neither entry is left to name an adapter
    // that was never touched.
    simulator::Machine unrecordable = TwoAdapters();
    unrecordable.Faults = {Failing(Operation::RegFlushKey, 5, 2)};
    FakeDeploySystem refused;
    EXPECT_EQ(Deploy(unrecordable, u"/a", &refused), DEPLOY_FAILED) << refused.Log;
    EXPECT_TRUE(testsupport::CallsOf("SetupDiCallClassInstaller").empty());
    EXPECT_EQ(testsupport::CallsOf("RegSetValueExW").size(), 2u) << refused.Log; // the entries alone
    EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << refused.Log;
    for (const char* line : {"cannot take the entry of {4d36e972-e325-11ce-bfc1-08002be10318}\\0005 "
                             "(ROOT\\SIMULATED\\0001) (error 5 ",
                             "nothing was touched", "failed call: RegFlushKey: 0x00000005",
                             "failed: the journal of restarts under way cannot be kept"}) {
        EXPECT_NE(refused.Log.find(line), std::string::npos) << line << "\n" << refused.Log;
    }

    // No entry goes past the most a later run reads back, as the tool opens
    // the key of an adapter the walk before the run could not read, beside
    // the entries of 999 adapters not present: that adapter is not touched,
    // and a run cut short at the first enable leaves a journal the next run
    // reads, which enables the other.
    simulator::Machine full = TwoAdapters();
    full.Faults = {On(0, Failing(Operation::CM_Get_DevNode_Status, 0xD)),
                   KillAt(Operation::SetupDiCallClassInstaller, 0)};
    full.Faults[1].StateChange = platform::DICS_ENABLE;
    std::vector<std::pair<std::string, std::u16string>> gone;
    for (std::size_t i = 0; i + 1 < MAX_JOURNAL_ENTRIES; ++i) {
        gone.emplace_back(std::to_string(5000 + i), u"USB\\GONE");
    }
    full.Registry.push_back(JournalKey(gone));
    FakeDeploySystem filling;
    EXPECT_THROW(Deploy(full, u"/a", &filling), simulator::Killed);
    simulator::Machine afterKill = simulator::Current();
    EXPECT_EQ(JournalOf(afterKill).size(), MAX_JOURNAL_ENTRIES) << filling.Log;
    EXPECT_FALSE(Disabled(afterKill.Devices[0])) << filling.Log;
    afterKill.Faults.clear();
    FakeDeploySystem next;
    (void)Deploy(afterKill, u"/a", &next);
    EXPECT_FALSE(Disabled(simulator::Current().Devices[1])) << next.Log;

    // Whether it holds the most cannot be told: it may, and no entry is
    // added.
    simulator::Machine uncountable = TwoAdapters();
    FakeDeploySystem counting;
    (void)Deploy(uncountable, u"/a", &counting);
    std::uint64_t countProbe =
        FirstCallAfter([](const simulator::Call&) { return true; }, "RegEnumValueW",
                       [](const simulator::Call& call) {
                           return call.Argument("index") == "999" && call.Argument("nameSize") == "1";
                       });
    ASSERT_NE(countProbe, 0u);
    uncountable.Faults = {Failing(Operation::RegEnumValueW, 1450, countProbe)};
    FakeDeploySystem uncounted;
    EXPECT_EQ(Deploy(uncountable, u"/a", &uncounted), DEPLOY_FAILED) << uncounted.Log;
    EXPECT_TRUE(testsupport::CallsOf("SetupDiCallClassInstaller").empty()) << uncounted.Log;
    // Nor is that adapter's key written where whether the journal holds its
    // entry already cannot be told.
    simulator::Machine unknowable = TwoAdapters();
    unknowable.Faults = {full.Faults[0]};
    (void)Deploy(unknowable, u"/a", &counting);
    std::uint64_t lookup = FirstCallAfter(
        [](const simulator::Call&) { return true; }, "RegQueryValueExW",
        [](const simulator::Call& call) { return call.Argument("name").find("0001") != std::string::npos; });
    ASSERT_NE(lookup, 0u);
    unknowable.Faults.push_back(Failing(Operation::RegQueryValueExW, 5, lookup));
    EXPECT_EQ(Deploy(unknowable, u"/a", &uncounted), DEPLOY_FAILED) << uncounted.Log;
    EXPECT_TRUE(simulator::Current().Registry[0].Values.empty()) << uncounted.Log;

    // An entry a deployment clears between its listing and its read is gone,
    // not a journal the check cannot read, and the entry after it is read.
    simulator::Machine clearing = testsupport::MachineOf({});
    clearing.Registry.push_back(JournalKey({{"0001", u"USB\\A"}, {"0002", u"USB\\B"}}));
    clearing.Faults = {Failing(Operation::RegQueryValueExW, platform::ERROR_FILE_NOT_FOUND)};
    simulator::Install(clearing);
    CheckAnswer cleared = testsupport::CheckInstalledMachine(SettingAction::Add);
    EXPECT_EQ(cleared.ExitCode, CHECK_NO_ADAPTER) << cleared.Line;
    EXPECT_NE(cleared.Line.find("0001 (USB\\A), {4d36e972-e325-11ce-bfc1-08002be10318}\\0002 (USB\\B)"),
              std::string::npos)
        << cleared.Line;

    // An interrupted run's entry names a device removed since, its driver
    // key name now an adapter's whose instance ID cannot be read for a
    // while: the run records that adapter by name alone, not under the
    // removed device's ID, so a run cut short at its enable is recovered.
    simulator::Machine stale = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless", "PCI", "0001")});
    stale.Devices[0].InstanceId = u"PCI\\VEN_NEW";
    stale.Registry.push_back(JournalKey({{"0001", u"USB\\VEN_OLD"}}));
    stale.Faults = {
        Failing(Operation::SetupDiGetDeviceInstanceIdW, 5),
        KillAt(Operation::SetupDiCallClassInstaller, 3)}; // the recovery's enable, the run's disable, its enable
    stale.Faults[0].Times = 3;
    FakeDeploySystem staleRun;
    EXPECT_THROW(Deploy(stale, u"/a", &staleRun), simulator::Killed);
    simulator::Machine staleAfter = simulator::Current();
    ASSERT_TRUE(Disabled(staleAfter.Devices[0])) << staleRun.Log;
    staleAfter.Faults.clear();
    FakeDeploySystem staleNext;
    EXPECT_EQ(Deploy(staleAfter, u"/a", &staleNext), DEPLOY_SUCCESS) << staleNext.Log;
    EXPECT_FALSE(Disabled(simulator::Current().Devices[0])) << staleNext.Log;
}

// The outcome answers for every adapter the run touched, and an entry stays
// exactly while its adapter may be disabled, now or from the next boot.
TEST(InterruptedRuns, EachAdapterTheRunTouchedIsJudgedAndKeptInTheJournalWhileItMayBeDisabled)
{
    // The first one's disable is refused, and the second one's enable, and
    // the first one's key cannot be opened at all, before or after the run:
    // the tool cannot have written it, so nothing of it is owed.
    simulator::Machine unopenable = TwoAdapters();
    unopenable.Faults = {On(0, Failing(Operation::SetupDiCallClassInstaller, 31, 0, platform::DICS_DISABLE)),
                         On(1, Failing(Operation::SetupDiCallClassInstaller, 31, 0, platform::DICS_ENABLE))};
    unopenable.Registry[0].DenyRead = true;
    simulator::Machine undeletable = TwoAdapters(); // no entry can be cleared
    undeletable.Faults = {Failing(Operation::RegDeleteValueW, 5)};
    undeletable.Faults[0].Times = -1;
    // The second adapter's state cannot be read by the walk before the run,
    // so the tool's own walk alone picks it, and its entry cannot be flushed
    // when it is recorded again before its disable, after its key was
    // written: its restart is owed to the next run.
    simulator::Machine missedUnflushed = TwoAdapters();
    missedUnflushed.Faults = {On(1, Failing(Operation::CM_Get_DevNode_Status, 0xD))};
    missedUnflushed.Registry[1].Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x30, 0}});
    FakeDeploySystem written;
    (void)Deploy(missedUnflushed, u"/a", &written);
    // The journal's flush, not one of the key the tool opened.
    std::string toolsKey;
    missedUnflushed.Faults.push_back(
        Failing(Operation::RegFlushKey, 5,
                FirstCallAfter(
                    [&](const simulator::Call& call) {
                        bool opened = call.Operation == "RegOpenKeyExW" && call.Argument("access") == "0xf003f" &&
                                      call.Argument("path").find("0005") != std::string::npos;
                        toolsKey = opened ? call.Result("key") : toolsKey;
                        return opened;
                    },
                    "RegFlushKey", [&](const simulator::Call& call) { return call.Argument("key") != toolsKey; })));
    // The first adapter's state cannot be read when its restart begins, so
    // no disable is asked for it, and the second one's key cannot be
    // written: the run fails, and the first is owed its restart, but no
    // disable of it is on record.
    simulator::Machine undisabled = TwoAdapters();
    FakeDeploySystem plain;
    (void)Deploy(undisabled, u"/a", &plain);
    auto writes = [](const char* instance) {
        return [instance](const simulator::Call& call) {
            return call.Operation == "RegOpenKeyExW" && call.Argument("access") == "0xf003f" &&
                   call.Argument("path").find(instance) != std::string::npos;
        };
    };
    undisabled.Faults = {
        Failing(Operation::CM_Get_DevNode_Status, 0xD,
                FirstCallAfter(writes("0001"), "CM_Get_DevNode_Status", [](const simulator::Call&) { return true; }))};
    FakeDeploySystem unreadProbe; // the calls as they come with that fault
    (void)Deploy(undisabled, u"/a", &unreadProbe);
    undisabled.Faults.push_back(
        Failing(Operation::RegSetValueExW, 5, FirstCallAfter(writes("0005"), "RegSetValueExW", [](const auto& call) {
                    return call.Argument("name") == "\"WapiSupport\"";
                })));
    simulator::Machine crowded = TwoAdapters(); // more entries than are read: one past them would go unseen
    std::vector<std::pair<std::string, std::u16string>> pastTheMost;
    for (int i = 0; i <= 1000; ++i) {
        pastTheMost.emplace_back(std::to_string(10000 + i), u"ROOT\\GONE");
    }
    crowded.Registry.push_back(JournalKey(pastTheMost));
    // The first one's driver refuses to stop, and its install parameters
    // cannot be read after the disable: it may be pending.
    simulator::Machine unread = TwoAdapters();
    unread.Devices[0].OnStateChange = simulator::Reaction::Vetoed;
    unread.Faults = {On(0, Failing(Operation::SetupDiGetDeviceInstallParamsW, 87))};
    // The second adapter's driver key name is too long to name a key, and the
    // walk before the run misses it: the tool alone picks it, never opens its
    // key, and its enable is refused.
    simulator::Machine overlong = TwoAdapters();
    overlong.Devices[1].Properties[simulator::SLOT_DRIVER] =
        testsupport::TextProperty(std::string(testsupport::NET_CLASS_KEY) + "\\" + std::string(220, '9'));
    overlong.Faults = {On(1, Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 13), platform::SPDRP_CLASS),
                       On(1, Failing(Operation::SetupDiCallClassInstaller, 5, 0, platform::DICS_ENABLE))};
    // As the overlong one, but its driver key name cannot be read when it is
    // about to be disabled: it names no key, not the class key.
    // The read is found in a run of the overlong one, not counted by hand:
    // another property the scan reads moves it.
    FakeDeploySystem named;
    (void)Deploy(overlong, u"/a", &named);
    std::uint64_t aboutToDisable = FirstCallAfter(
        AsksFor("SetupDiSetClassInstallParamsW", "1", "2"), "SetupDiGetDeviceRegistryPropertyW",
        [](const simulator::Call& call) { return call.Argument("index") == "1" && call.Argument("property") == "9"; });
    ASSERT_NE(aboutToDisable, 0u) << named.Log;
    simulator::Machine nameless = overlong;
    nameless.Faults.push_back(
        On(1, Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 13, aboutToDisable), platform::SPDRP_DRIVER));
    // The first adapter's disable is carried out, its enable refused, and
    // its state cannot be read after the run: it may be disabled.
    simulator::Machine unseen = TwoAdapters();
    unseen.Faults = {On(0, Failing(Operation::SetupDiCallClassInstaller, 5, 0, platform::DICS_ENABLE)),
                     On(0, Failing(Operation::CM_Get_DevNode_Status, 0xD, 18))}; // the read after the run
    // The first one's driver ignores the enable, which the class installer
    // answers for all the same: it stays disabled; its state cannot be read
    // right after the enable, nor after the run.
    simulator::Machine stuckUnread = TwoAdapters();
    stuckUnread.Devices[0].OnStateChange = simulator::Reaction::Stuck;
    FakeDeploySystem probe;
    (void)Deploy(stuckUnread, u"/a", &probe);
    std::uint64_t afterEnable = FirstCallAfter(AsksFor("SetupDiCallClassInstaller", "0", "1"), "CM_Get_DevNode_Status",
                                               [](const simulator::Call&) { return true; });
    ASSERT_NE(afterEnable, 0u);
    stuckUnread.Faults = {On(0, Failing(Operation::CM_Get_DevNode_Status, 0xD, 19)), // the read after the run
                          On(0, Failing(Operation::CM_Get_DevNode_Status, 0xD, afterEnable))};
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    struct Case {
        const char* name;
        const simulator::Machine* machine;
        int code;
        std::size_t left; // entries left in the journal
        std::string line; // in the log
    } cases[] = {
        {"a disable refused, its key unopenable, in a run that fails", &unopenable, DEPLOY_FAILED, 1,
         "0005 (ROOT\\SIMULATED\\0001) is kept: its adapter may be disabled"},
        {"an enable the driver ignored, its state unread right after it and after the run", &stuckUnread, DEPLOY_FAILED,
         1,
         "0001 (ROOT\\SIMULATED\\0000) is kept: the class installer answered its enable, but its state could not be "
         "read right after it (CR_NO_SUCH_DEVNODE, 0x0000000D); the next run enables it again\n"},
        {"entries that cannot be cleared", &undeletable, DEPLOY_FAILED, 2,
         "failed: the journal of restarts under way cannot be kept"},
        {"an adapter only the tool's walk picked, its entry unflushed before its disable", &missedUnflushed,
         DEPLOY_FAILED, 1, "0005 (ROOT\\SIMULATED\\0001) is kept: the run failed"},
        {"a restart that asked for no disable, in a run that fails", &undisabled, DEPLOY_FAILED, 1,
         "0001 (ROOT\\SIMULATED\\0000) is kept: the run failed"},
        {"a journal too long to read whole", &crowded, DEPLOY_FAILED, 1001, "cannot be read (error 234"},
        {"a disable not known not to wait for the next boot", &unread, DEPLOY_FAILED, 1,
         "outcome 1: failed: 1 adapter running with a disable not undone, which may take effect at the next boot."},
        {"a key name too long, and only the tool's walk picked it", &overlong, DEPLOY_FAILED, 1,
         "before the run: device 1: WapiSupport unknown (the driver key name is too long to name a key) (an adapter "
         "the tool picked"},
        {"a name unreadable at the disable", &nameless, DEPLOY_FAILED, 0,
         "before the run: an adapter whose driver key name could not be read: WapiSupport unknown (an adapter"},
        {"left disabled, its state unreadable", &unseen, DEPLOY_FAILED, 1,
         "could not be confirmed after the run (CM_Get_DevNode_Status: CR_NO_SUCH_DEVNODE, 0x0000000D); check the "
         "adapter in Device Manager\n  outcome 1: failed: 1 adapter left disabled."},
    };
    for (const Case& c : cases) {
        FakeDeploySystem system;
        EXPECT_EQ(Deploy(*c.machine, u"/a", &system), c.code) << c.name << "\n" << system.Log;
        EXPECT_TRUE(EnablesOnDiskBeforeEntriesNameNoDisable(*c.machine)) << c.name << "\n" << system.Log;
        EXPECT_EQ(JournalOf(simulator::Current()).size(), c.left) << c.name << "\n" << system.Log;
        EXPECT_NE(system.Log.find(c.line), std::string::npos) << c.name << "\n" << system.Log;
        if (c.machine == &missedUnflushed || c.machine == &undisabled) {
            // No disable of it was carried out: what the run wrote of its
            // entry for one gives way to one that names no disable.
            ASSERT_FALSE(JournalOf(simulator::Current()).empty()) << system.Log;
            EXPECT_EQ(JournalOf(simulator::Current())[0].second.Type, platform::REG_MULTI_SZ) << system.Log;
        }
    }
    // A /d whose programs cannot be removed fails after the ignored
    // adapter's entry was cleared: it is recorded again. One whose clear of
    // that entry fails keeps the programs, as any failed run does; one
    // whose flush after the clear fails has cleared it all the same, and
    // says so.
    simulator::Machine ignoredSet = TwoAdapters();
    ignoredSet.Devices[0].OnStateChange = simulator::Reaction::Ignore;
    testsupport::SetOnEveryKey(&ignoredSet);
    FakeDeploySystem unremovable;
    unremovable.InstallWorks = false;
    EXPECT_EQ(Deploy(ignoredSet, u"/d", &unremovable), DEPLOY_FAILED) << unremovable.Log;
    EXPECT_EQ(JournalOf(simulator::Current()).size(), 1u) << unremovable.Log;
    EXPECT_NE(unremovable.Log.find("the run failed, so the restart its adapter's changed key waits for is owed"),
              std::string::npos)
        << unremovable.Log;
    FakeDeploySystem removable;
    ASSERT_EQ(Deploy(ignoredSet, u"/d", &removable), DEPLOY_RESTART_NEEDED) << removable.Log;
    const auto [lastClear, lastFlush] = LastClearAndFlush();
    ignoredSet.Faults = {Failing(Operation::RegDeleteValueW, 5, lastClear)};
    FakeDeploySystem uncleared;
    EXPECT_EQ(Deploy(ignoredSet, u"/d", &uncleared), DEPLOY_FAILED) << uncleared.Log;
    EXPECT_FALSE(uncleared.Removed) << uncleared.Log;
    EXPECT_EQ(JournalOf(simulator::Current()).size(), 1u) << uncleared.Log;
    ignoredSet.Faults = {Failing(Operation::RegFlushKey, 5, lastFlush)};
    FakeDeploySystem unflushed;
    EXPECT_EQ(Deploy(ignoredSet, u"/d", &unflushed), DEPLOY_RESTART_NEEDED) << unflushed.Log;
    EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << unflushed.Log;
    EXPECT_NE(unflushed.Log.find("is cleared, though the registry could not be flushed to disk after it (error 5"),
              std::string::npos)
        << unflushed.Log;

    // Restarts owed by an interrupted run (the first adapter found running
    // under its entry, its key written): one the tool does not reach stays
    // owed, answered 3010, and the next run does it; one it reaches and
    // cannot restart is not owed to any run.
    simulator::Machine owed = TwoAdapters();
    owed.Registry[0].Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x31, 0}});
    owed.Registry.push_back(JournalKey({{"0001", u"ROOT\\SIMULATED\\0000"}}));
    simulator::Machine unreachable = owed; // its state read by the recovery alone (the first two reads)
    for (std::uint64_t nth = 3; nth <= 60; ++nth) {
        unreachable.Faults.push_back(On(0, Failing(Operation::CM_Get_DevNode_Status, 0xD, nth)));
    }
    simulator::Machine fixed = owed; // it cannot be disabled at all
    fixed.Devices[0].Status &= ~platform::DN_DISABLEABLE;
    // Missed by the walk before the run, picked by the tool's, and its entry
    // cannot be written again before its disable: it stays owed.
    simulator::Machine unwritten = owed;
    unwritten.Faults = {On(0, Failing(Operation::CM_Get_DevNode_Status, 0xD, 3))};
    FakeDeploySystem unwrittenProbe;
    (void)Deploy(unwritten, u"/a", &unwrittenProbe);
    unwritten.Faults.push_back(
        Failing(Operation::RegSetValueExW, 5, FirstCallAfter(writes("0001"), "RegSetValueExW", [](const auto& call) {
                    return call.Argument("name").find("0001") != std::string::npos;
                })));
    // Enabled by the recovery, its entry names no disable from then on.
    const std::vector<std::pair<std::u16string, simulator::Value>> owedAfter = {
        {owed.Registry.back().Values[0].first,
         simulator::Value{platform::REG_MULTI_SZ,
                          simulator::TextBytes(std::u16string(u"ROOT\\SIMULATED\\0000") + u'\0')}}};
    struct Owed {
        const char* name;
        const simulator::Machine* machine;
        bool kept;                  // its entry after the run
        std::size_t installerCalls; // by the run after it, with no fault
        int code = DEPLOY_RESTART_NEEDED;
    } owedCases[] = {
        {"not reached", &unreachable, true, 4}, // both restarts
        {"not disableable", &fixed, false, 0},
        {"its entry not written again", &unwritten, true, 4, DEPLOY_FAILED},
    };
    for (const Owed& c : owedCases) {
        FakeDeploySystem first;
        EXPECT_EQ(Deploy(*c.machine, u"/a", &first), c.code) << c.name << "\n" << first.Log;
        const std::vector<std::pair<std::u16string, simulator::Value>> none;
        EXPECT_EQ(JournalOf(simulator::Current()), c.kept ? owedAfter : none) << c.name << "\n" << first.Log;
        // Enabled by the recovery, it is cleared once the SYSTEM hive is
        // on disk, whether the run asked to disable it or not.
        std::vector<std::string> seen = FlushesAndClears();
        auto clear = std::find(seen.begin(), seen.end(), "clear \"{4d36e972-e325-11ce-bfc1-08002be10318}\\\\0001\"");
        EXPECT_TRUE(c.kept || (clear != seen.begin() && clear != seen.end() &&
                               clear[-1] == "flush \"SYSTEM\\\\CurrentControlSet\\\\Control\\\\Class\\\\{4d36e972-"
                                            "e325-11ce-bfc1-08002be10318}\\\\0001\""))
            << c.name << testing::PrintToString(seen);
        simulator::Machine next = simulator::Current();
        next.Faults.clear();
        if (c.kept) {
            // Until a run restarts it, the check counts it against the
            // machine, as running with its restart unfinished.
            simulator::Install(next);
            CheckAnswer answer = testsupport::CheckInstalledMachine(SettingAction::Add);
            EXPECT_EQ(answer.ExitCode, CHECK_NOT_COMPLIANT) << answer.Line;
            EXPECT_NE(answer.Line.find("Not compliant: an interrupted run did not finish restarting this adapter: "
                                       "{4d36e972-e325-11ce-bfc1-08002be10318}\\0001 (ROOT\\SIMULATED\\0000); "
                                       "WapiSupport is set on 2 adapters"),
                      std::string::npos)
                << answer.Line;
        }
        next.Registry[1].Values = next.Registry[0].Values; // nothing else to do
        FakeDeploySystem second;
        (void)Deploy(next, u"/a", &second);
        EXPECT_EQ(testsupport::CallsOf("SetupDiCallClassInstaller").size(), c.installerCalls) << c.name << "\n"
                                                                                              << second.Log;
        EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << c.name << "\n" << second.Log;
    }
    // One owed a restart whose key is not as wanted, which no walk of the
    // run picked, is no success, whether the tool ran or not: the next run
    // does it, and /d keeps the programs until then.
    for (const char16_t* command : {u"/a", u"/d"}) {
        for (bool toolRuns : {false, true}) {
            const bool add = std::u16string(command) == u"/a";
            const auto& set = owed.Registry[0].Values;
            const decltype(owed.Registry[0].Values) none;
            simulator::Machine unset = unreachable;
            unset.Registry[0].Values = add ? none : set;
            unset.Registry[1].Values = toolRuns == add ? none : set;
            FakeDeploySystem first;
            EXPECT_EQ(Deploy(unset, command, &first), DEPLOY_FAILED) << toolRuns << "\n" << first.Log;
            EXPECT_EQ(JournalOf(simulator::Current()), owedAfter) << first.Log;
            EXPECT_FALSE(first.Removed) << first.Log;
            // Counted once: among the adapters judged after the tool's run.
            EXPECT_NE(first.Log.find(toolRuns ? "outcome 1: failed: 1 adapter with the driver key not as wanted.\n"
                                              : "outcome 1: failed: 1 adapter owed a restart, with the driver key not "
                                                "as wanted or not readable, that the run did not pick (see the "
                                                "log).\n"),
                      std::string::npos)
                << first.Log;
            simulator::Machine next = simulator::Current();
            next.Faults.clear();
            FakeDeploySystem second;
            EXPECT_EQ(Deploy(next, command, &second), DEPLOY_SUCCESS) << second.Log;
            EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << second.Log;
        }
    }
}

// An adapter whose setting waits for a restart keeps its entry through a run
// that fails, so that the next run restarts it, or asks for the computer's
// restart: it never answers 0 for it. (Runs cut short are the kill loop's.)
TEST(InterruptedRuns, ARestartTheSettingWaitsForOutlivesARunThatFails)
{
    // The first one's driver ignores the disable, and its key, written,
    // cannot be read after the run.
    simulator::Machine machine = TwoAdapters();
    machine.Devices[0].OnStateChange = simulator::Reaction::Ignore;
    FakeDeploySystem probe;
    (void)Deploy(machine, u"/a", &probe);
    machine.Faults = {Failing(Operation::RegQueryValueExW, 5,
                              FirstCallAfter(AsksFor("SetupDiCallClassInstaller", "1", "1"), "RegQueryValueExW",
                                             [](const simulator::Call&) { return true; }))};
    FakeDeploySystem failing;
    EXPECT_EQ(Deploy(machine, u"/a", &failing), DEPLOY_FAILED) << failing.Log;
    machine = simulator::Current();
    machine.Faults.clear();
    FakeDeploySystem next;
    EXPECT_EQ(Deploy(machine, u"/a", &next), DEPLOY_RESTART_NEEDED) << failing.Log << next.Log;
    const simulator::Machine& done = simulator::Current();
    EXPECT_FALSE(Disabled(done.Devices[0]) || Disabled(done.Devices[1]));
    EXPECT_TRUE(JournalOf(done).empty()) << next.Log;
}

// A restart of the computer that Windows asked for, hidden by a run's exit
// 1, is owed to the next run's outcome: no later run restarts the adapter
// for it again, which would only ask once more (a Wi-Fi drop on every run
// while the failure lasts), and the first that does not fail answers 3010.
// The same holds for an enable by the recovery that asks for it, in a run
// that fails there or as the programs cannot be placed.
TEST(InterruptedRuns, ARestartOfTheComputerAFailedRunOwesIsAnsweredNotRetried)
{
    for (int variant = 0; variant < 3; ++variant) {
        const bool recovered = variant > 0;
        const bool unplaced = variant == 2;
        simulator::Machine machine = TwoAdapters();
        machine.Devices[0].OnStateChange = simulator::Reaction::NeedRestart;
        machine.Registry[1].DenyFullAccess = true; // a key no run can change
        if (recovered) {
            machine.Registry[0].Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x31, 0}});
            DisableByUser(machine.Devices[0]);
            machine.Registry.push_back(JournalKey({{"0001", u"ROOT\\SIMULATED\\0000"}}));
        }
        // The third run could change the key, but cannot record that
        // adapter in the journal (its entry the run's first write: the owed
        // one's stands as it is): the entry stays what it was.
        for (int run = 0; run < 3; ++run) {
            if (run == 2) {
                machine.Registry[1].DenyFullAccess = false;
                machine.Faults = {Failing(Operation::RegSetValueExW, 1021, 1)};
            }
            FakeDeploySystem failing;
            failing.InstallWorks = !unplaced;
            EXPECT_EQ(Deploy(machine, u"/a", &failing), DEPLOY_FAILED) << failing.Log;
            EXPECT_TRUE(EnablesOnDiskBeforeEntriesNameNoDisable(machine)) << variant << run << failing.Log;
            EXPECT_EQ(testsupport::CallsOf("SetupDiCallClassInstaller").size(), run == 0 ? (recovered ? 1U : 4U) : 0U)
                << variant << run << failing.Log;
            machine = simulator::Current();
            ASSERT_EQ(JournalOf(machine).size(), 1U) << failing.Log;
            EXPECT_EQ(JournalOf(machine)[0].second.Type, platform::REG_MULTI_SZ) << run << failing.Log;
        }
        machine.Faults.clear();
        CheckAnswer answer = testsupport::CheckInstalledMachine(SettingAction::Add);
        EXPECT_NE(answer.Line.find("a deployment that failed or was cut short left a restart of the computer owed"),
                  std::string::npos)
            << answer.Line;
        machine.Registry[1].Values = machine.Registry[0].Values; // nothing else to do
        FakeDeploySystem next;
        EXPECT_EQ(Deploy(machine, u"/a", &next), DEPLOY_RESTART_NEEDED) << next.Log;
        EXPECT_NE(
            next.Log.find("since a run that failed or was cut short). Only the installed programs were changed.\n"),
            std::string::npos)
            << next.Log;
        EXPECT_TRUE(testsupport::CallsOf("SetupDiCallClassInstaller").empty()) << next.Log;
        EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << next.Log;
    }
    // A lone adapter whose enable cannot be written to disk after it, nor
    // after the answer, which the run then cannot give: its entry is written
    // as owed that restart only once the enable is on disk.
    simulator::Machine lone = TwoAdapters();
    lone.Devices.pop_back();
    lone.Devices[0].OnStateChange = simulator::Reaction::NeedRestart;
    FakeDeploySystem probe;
    (void)Deploy(lone, u"/a", &probe);
    std::uint64_t flush = FirstCallAfter(AsksFor("SetupDiCallClassInstaller", "0", "1"), "RegFlushKey",
                                         [](const simulator::Call&) { return true; });
    lone.Faults = {Failing(Operation::RegFlushKey, 1117, flush), Failing(Operation::RegFlushKey, 1117, flush + 1)};
    FakeDeploySystem unflushed;
    EXPECT_EQ(Deploy(lone, u"/a", &unflushed), DEPLOY_FAILED) << unflushed.Log;
    EXPECT_TRUE(EnablesOnDiskBeforeEntriesNameNoDisable(lone)) << unflushed.Log;
    EXPECT_EQ(JournalOf(simulator::Current()).size(), 1U) << unflushed.Log;

    // The install parameters unread after the first adapter's enable, and the
    // run cut short at the second one's disable: the first one's entry owes
    // the computer's restart already, so the next run leaves that adapter as
    // its user leaves it (disabled since, here).
    simulator::Machine unread = TwoAdapters();
    unread.Faults = {Failing(Operation::SetupDiGetDeviceInstallParamsW, 5, 2),
                     KillAt(Operation::SetupDiCallClassInstaller, 3)};
    FakeDeploySystem cut;
    EXPECT_THROW(Deploy(unread, u"/a", &cut), simulator::Killed);
    simulator::Machine afterCut = simulator::Current();
    afterCut.Faults.clear();
    DisableByUser(afterCut.Devices[0]);
    FakeDeploySystem resumed;
    EXPECT_EQ(Deploy(afterCut, u"/a", &resumed), DEPLOY_RESTART_NEEDED) << resumed.Log;
    EXPECT_TRUE(Disabled(simulator::Current().Devices[0])) << resumed.Log;
}

TEST(InterruptedRuns, AKillAtAnyCallIsRecoveredByTheNextRun)
{
    // And a machine a run that failed left owing a restart of the computer
    // for its first adapter (whose restarts ask for one), the second still
    // to be written: that restart is answered for wherever a run is cut.
    simulator::Machine owing = TwoAdapters();
    owing.Devices[0].OnStateChange = simulator::Reaction::NeedRestart;
    owing.Registry[1].DenyFullAccess = true;
    FakeDeploySystem failed;
    ASSERT_EQ(Deploy(owing, u"/a", &failed), DEPLOY_FAILED) << failed.Log;
    owing = simulator::Current();
    ASSERT_EQ(JournalOf(owing).size(), 1U) << failed.Log;
    owing.Registry[1].DenyFullAccess = false;
    simulator::Machine owingUnrestartable = owing; // its driver now ignores the disable
    owingUnrestartable.Devices[0].OnStateChange = simulator::Reaction::Ignore;
    const std::pair<const char16_t*, simulator::Machine> runs[] = {
        {u"/a", Adapters(u"/a")}, {u"/d", Adapters(u"/d")}, {u"/a", owing}, {u"/a", owingUnrestartable}};
    for (const auto& [command, machine] : runs) {
        // Every call a whole run makes, as its operation and its count.
        FakeDeploySystem whole;
        const int wholeCode = Deploy(machine, command, &whole);
        EXPECT_TRUE(EnablesOnDiskBeforeEntriesNameNoDisable(machine)) << whole.Log;
        std::vector<std::pair<Operation, std::uint64_t>> points;
        std::map<std::string, std::uint64_t> counts;
        std::size_t lastRestartCall = 0;
        std::size_t lastClear = 0; // just after the journal's last delete
        for (const simulator::Call& call : simulator::Trace()) {
            Operation operation = Operation::SetupDiGetClassDevsW;
            if (simulator::OperationNamed(call.Operation, &operation)) {
                points.emplace_back(operation, ++counts[call.Operation]);
                lastRestartCall = operation == Operation::SetupDiCallClassInstaller ? points.size() : lastRestartCall;
                lastClear = operation == Operation::RegDeleteValueW ? points.size() : lastClear;
            }
        }
        ASSERT_GT(points.size(), 50u);
        // The run ends with the journal's last delete, its flush and its
        // close: only a kill at those two may lose a 3010 (below).
        EXPECT_EQ(points.size() - lastClear, 2u);
        // Each key as the action leaves it: WapiSupport, REG_SZ "1", or none.
        simulator::Key set;
        set.Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x31, 0}});
        const simulator::Key none;
        const std::string before =
            "before the run: SYSTEM\\CurrentControlSet\\Control\\Class\\"
            "{4d36e972-e325-11ce-bfc1-08002be10318}\\0001: WapiSupport " +
            std::string(machine.Registry[0].Values[0].second.Data.size() == 4 ? "REG_SZ, 4 bytes: 30 00 00 00"
                                                                              : "REG_SZ, 2 bytes: 31 00");
        std::string firstLeftDisabled;
        for (std::size_t p = 0; p < points.size(); ++p) {
            const auto& [operation, nth] = points[p];
            std::string point = std::string(simulator::KindOf(operation).Name) + " #" + std::to_string(nth);
            simulator::Machine killed = machine;
            killed.Faults = {KillAt(operation, nth)};
            FakeDeploySystem first;
            EXPECT_THROW(Deploy(killed, command, &first), simulator::Killed) << point;
            simulator::Machine after = simulator::Current();
            after.Faults.clear();
            bool leftDisabled = Disabled(after.Devices[0]) || Disabled(after.Devices[1]);
            if (leftDisabled && firstLeftDisabled.empty()) {
                // What the check answers in between.
                simulator::Install(after);
                CheckAnswer answer = testsupport::CheckInstalledMachine(
                    std::u16string(command) == u"/a" ? SettingAction::Add : SettingAction::Delete);
                firstLeftDisabled = point + "; the check: " + answer.Line;
                EXPECT_EQ(answer.ExitCode, CHECK_NOT_COMPLIANT) << firstLeftDisabled;
                EXPECT_NE(answer.Line.find("an interrupted run left th"), std::string::npos) << firstLeftDisabled;
            }
            if (p < lastRestartCall && !JournalOf(after).empty()) {
                // The run after it cut short in turn, its recovery done (at
                // the walk that reads the machine for the run): what was owed
                // stays owed, and the run after that answers as the whole
                // run did.
                simulator::Machine recoveredOnly = after;
                recoveredOnly.Faults = {KillAt(Operation::SetupDiGetClassDevsW, 2)};
                FakeDeploySystem cut;
                EXPECT_THROW(Deploy(recoveredOnly, command, &cut), simulator::Killed) << point;
                simulator::Machine third = simulator::Current();
                third.Faults.clear();
                FakeDeploySystem last;
                EXPECT_EQ(Deploy(third, command, &last), wholeCode) << point << ", then after the recovery\n"
                                                                    << last.Log;
            }
            FakeDeploySystem second;
            int code = Deploy(after, command, &second);
            EXPECT_TRUE(EnablesOnDiskBeforeEntriesNameNoDisable(after)) << point << "\n" << second.Log;
            // Killed anywhere else, the second run answers what the whole run
            // did: a key written before the kill, and not yet in force, is
            // restarted or asks for the computer's restart.
            if (p + 2 < points.size()) {
                EXPECT_EQ(code, wholeCode) << point << "\n" << second.Log;
            }
            EXPECT_TRUE(code == DEPLOY_SUCCESS || code == DEPLOY_RESTART_NEEDED) << point << "\n" << second.Log;
            const simulator::Machine& done = simulator::Current();
            EXPECT_FALSE(Disabled(done.Devices[0]) || Disabled(done.Devices[1])) << point << "\n" << second.Log;
            for (std::size_t k = 0; k < 2; ++k) {
                EXPECT_EQ(done.Registry[k].Values, std::u16string(command) == u"/d" ? none.Values : set.Values)
                    << point;
            }
            EXPECT_TRUE(JournalOf(done).empty()) << point << "\n" << second.Log;
            // The first key's value before the action is on record in one of
            // the two runs' log entries, wherever the first was cut short.
            EXPECT_NE((first.Log + second.Log).find(before), std::string::npos) << point << "\n"
                                                                                << first.Log << second.Log;
        }
        EXPECT_FALSE(firstLeftDisabled.empty());
        const std::string run =
            simulator::Utf16ToUtf8(command) + (JournalOf(machine).empty() ? "" : ", owing a restart of the computer");
        std::printf("first kill point leaving an adapter disabled, %s: %s\n", run.c_str(), firstLeftDisabled.c_str());
        testing::Test::RecordProperty("first kill point leaving an adapter disabled, " + run, firstLeftDisabled);
    }
}

TEST(InterruptedRuns, AnAdapterItsUserDisabledStaysSoAfterARunCutShortBeforeItsDisable)
{
    // The second adapter, which its user disabled, is picked as its state
    // cannot be read: by the tool's walk alone, the run cut short as the
    // tool opens its key to write; or by the walk before the run alone (its
    // state unread again after the walk), the run cut short as the tool's
    // walk begins, which passes it over.
    simulator::Machine disabled = TwoAdapters();
    DisableByUser(disabled.Devices[1]);
    simulator::Machine byTool = disabled;
    byTool.Faults = {Failing(Operation::CM_Get_DevNode_Status, 0xD, testsupport::ReadOf(disabled, "1", 3))};
    FakeDeploySystem probe;
    (void)Deploy(byTool, u"/a", &probe);
    std::uint64_t open = FirstCallAfter([](const simulator::Call&) { return true; }, "RegOpenKeyExW",
                                        [](const simulator::Call& call) {
                                            return call.Argument("access") == "0xf003f" &&
                                                   call.Argument("path").find("0005") != std::string::npos;
                                        });
    ASSERT_NE(open, 0u) << probe.Log;
    byTool.Faults.push_back(KillAt(Operation::RegOpenKeyExW, open));
    simulator::Machine byWalk = disabled;
    byWalk.Faults = {Failing(Operation::CM_Get_DevNode_Status, 0xD, testsupport::ReadOf(disabled, "1", 1))};
    byWalk.Faults.push_back(Failing(Operation::CM_Get_DevNode_Status, 0xD, testsupport::ReadOf(byWalk, "1", 2)));
    byWalk.Faults.push_back(KillAt(Operation::SetupDiGetClassDevsW, 3));
    // Or its user disables it after a run cut short before the enable of
    // the first adapter: the run had not asked to disable it.
    simulator::Machine byUser = TwoAdapters();
    byUser.Faults = {KillAt(Operation::SetupDiCallClassInstaller, 2)};
    // Or the first adapter, after a run cut short once it (or its
    // recovery) had enabled it again, Windows asking for a restart of the
    // computer, which keeps its entry to the run's answer; or after a run
    // whose journal could not be flushed as it was to disable it, its entry
    // from a run before naming no disable.
    simulator::Machine afterEnable = TwoAdapters();
    afterEnable.Devices[0].OnStateChange = simulator::Reaction::NeedRestart;
    simulator::Machine afterRecovery = afterEnable;
    afterEnable.Faults = {KillAt(Operation::SetupDiCallClassInstaller, 3)};
    testsupport::SetOnEveryKey(&afterRecovery);
    DisableByUser(afterRecovery.Devices[0]);
    afterRecovery.Registry.push_back(JournalKey({{"0001", u"ROOT\\SIMULATED\\0000"}}));
    afterRecovery.Faults = {KillAt(Operation::SetupDiGetClassDevsW, 2)};
    simulator::Machine unflushed = TwoAdapters();
    testsupport::SetOnEveryKey(&unflushed);
    unflushed.Registry[1].Values.clear();
    unflushed.Registry.push_back(JournalKey({{"0001", u"ROOT\\SIMULATED\\0000"}}));
    unflushed.Registry.back().Values[0].second.Type = platform::REG_MULTI_SZ;
    unflushed.Registry.back().Values[0].second.Data.insert(unflushed.Registry.back().Values[0].second.Data.end(), 2, 0);
    unflushed.Faults = {Failing(Operation::RegFlushKey, 5, 3)};
    struct Case {
        const simulator::Machine* Machine;
        std::size_t UserDisables;
        int Answer;
        const char* Unnamed; // by the check
    };
    for (Case run : {Case{&byTool, 1, DEPLOY_SUCCESS, "0005"}, Case{&byWalk, 1, DEPLOY_SUCCESS, "0005"},
                     Case{&byUser, 1, DEPLOY_SUCCESS, "0005"},
                     Case{&afterEnable, 0, DEPLOY_RESTART_NEEDED, "left this adapter disabled"},
                     Case{&afterRecovery, 0, DEPLOY_RESTART_NEEDED, "left this adapter disabled"},
                     Case{&unflushed, 0, DEPLOY_SUCCESS, "left this adapter disabled"}}) {
        FakeDeploySystem first;
        if (run.Machine == &unflushed) {
            EXPECT_EQ(Deploy(*run.Machine, u"/a", &first), DEPLOY_FAILED) << first.Log;
        } else {
            EXPECT_THROW(Deploy(*run.Machine, u"/a", &first), simulator::Killed) << first.Log;
        }
        simulator::Machine after = simulator::Current();
        after.Faults.clear();
        if (run.Machine != &byTool && run.Machine != &byWalk) {
            DisableByUser(after.Devices[run.UserDisables]);
        }
        ASSERT_FALSE(JournalOf(after).empty()) << first.Log;
        // The check does not count it as left disabled by the run.
        simulator::Install(after);
        CheckAnswer answer = testsupport::CheckInstalledMachine(SettingAction::Add);
        EXPECT_EQ(answer.Line.find(run.Unnamed), std::string::npos) << answer.Line;
        FakeDeploySystem second;
        EXPECT_EQ(Deploy(after, u"/a", &second), run.Answer) << second.Log;
        EXPECT_TRUE(Disabled(simulator::Current().Devices[run.UserDisables])) << second.Log;
        EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << second.Log;
    }
}

TEST(InterruptedRuns, TheNextRunEnablesWhatTheJournalNamesBeforeAnythingElse)
{
    // The first adapter was left disabled, the second runs with a disable
    // pending (it is enabled all the same), and a third is unplugged.
    simulator::Machine left = TwoAdapters();
    testsupport::SetOnEveryKey(&left);
    DisableByUser(left.Devices[0]);
    left.Devices[1].PendingDisable = true;
    left.Devices[0].InstanceId = u"PCI\\VEN_1";
    left.Devices[1].InstanceId = u"PCI\\VEN_5";
    left.Registry.push_back(JournalKey({{"0001", u"PCI\\VEN_1"}, {"0005", u"PCI\\VEN_5"}, {"0009", u"PCI\\VEN_9"}}));
    // The first adapter's driver key name was freed since (its device
    // removed) and is another, disabled, device's now: not the entry's, and
    // the entry names nothing left to enable.
    simulator::Machine reused = left;
    reused.Devices[0].InstanceId = u"PCI\\VEN_OTHER";
    reused.Devices[0].Properties[simulator::SLOT_DESCRIPTION] = testsupport::TextProperty("Another Wireless Adapter");
    // The first adapter's entry holds no text: it names the adapter by its
    // driver key name alone.
    simulator::Machine untyped = left;
    untyped.Registry.back().Values[0].second = simulator::Value{4, {1, 0, 0, 0}}; // REG_DWORD
    // The first adapter's driver asks for a restart of the computer when it
    // is enabled again; the tool then has nothing to do.
    simulator::Machine restarting = left;
    restarting.Devices[0].OnStateChange = simulator::Reaction::NeedRestart;
    simulator::Machine ignoring = left; // the first adapter's enable answered, and it stays disabled
    ignoring.Devices[0].OnStateChange = simulator::Reaction::Ignore;
    // The same, its state unread right after the enable: it may be disabled
    // still.
    simulator::Machine unsure = ignoring;
    unsure.Faults = {On(0, Failing(Operation::CM_Get_DevNode_Status, 0x1E, 2))};
    simulator::Machine refusing = left; // the first adapter's enable refused
    refusing.Faults = {Failing(Operation::SetupDiCallClassInstaller, 0xE0000219, 1)};
    // The second adapter's enable refused, its key not as wanted: the run's
    // restart enables it, and the recovery's failure is mended.
    simulator::Machine refusedRunning = left;
    refusedRunning.Faults = {Failing(Operation::SetupDiCallClassInstaller, 0xE0000219, 2)};
    refusedRunning.Registry[1].Values.clear();
    // The first adapter's enable refused, and the second not found by the
    // recovery (its driver key name unread, as none) though the run then
    // restarts it: the first one's failure stands.
    simulator::Machine refusedBesideUnfound = refusing;
    refusedBesideUnfound.Registry[1].Values.clear();
    refusedBesideUnfound.Faults.push_back(
        On(1, Failing(Operation::SetupDiGetDeviceRegistryPropertyW, platform::ERROR_INVALID_DATA),
           platform::SPDRP_DRIVER));
    // Its enable refused, its key not as wanted, and its state unread when
    // the tool's walk asks whether it is disabled: the tool picks it and
    // writes its key, but does not restart it. Its entry is the interrupted
    // run's still, naming its device, and stays.
    simulator::Machine unset = refusing;
    unset.Registry[0].Values.clear();
    unset.Faults.push_back(On(0, Failing(Operation::CM_Get_DevNode_Status, 0xD, 12)));
    // The same, the first entry the run records not flushed: the run stops
    // there, and the journal keeps every entry.
    simulator::Machine unflushed = unset;
    unflushed.Faults.push_back(Failing(Operation::RegFlushKey, 5, 3)); // after the recovery's two
    // Before them, a device whose driver key name is empty, read first (with
    // no block, Wine asks for room but for none), and after them one with no
    // driver key: neither is a device that could not be read.
    simulator::Machine others = left;
    others.Devices.insert(others.Devices.begin(), simulator::Device{});
    others.Devices.front().Properties[simulator::SLOT_DRIVER] = testsupport::BytesProperty({});
    others.Devices.front().InstanceId = u"ROOT\\EMPTY";
    others.Devices.emplace_back();
    others.Devices.back().InstanceId = u"ROOT\\NONE";
    // The first adapter's driver key name cannot be read when the recovery
    // looks for it: it may be there, and it is not taken for unplugged.
    simulator::Machine unread = left;
    unread.Faults = {On(0, Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 5), platform::SPDRP_DRIVER)};
    // The entries of the disabled adapter and of the unplugged one say that
    // no disable was asked for them: the run had only opened their keys.
    simulator::Machine keyOnly = left;
    for (std::size_t i : {0, 2}) {
        keyOnly.Registry.back().Values[i].second.Type = platform::REG_MULTI_SZ;
        keyOnly.Registry.back().Values[i].second.Data.insert(keyOnly.Registry.back().Values[i].second.Data.end(), 2, 0);
    }
    // The first one's state unread by the recovery: it is not enabled all
    // the same, and, found disabled by the walk before the run, its entry
    // goes.
    simulator::Machine keyOnlyUnread = keyOnly;
    keyOnlyUnread.Faults = {Failing(Operation::CM_Get_DevNode_Status, 0x1E, 1)};
    // The first of those entries, and a device that cannot be read (its
    // own): it may be there, owed a restart, with nothing to enable.
    simulator::Machine keyOnlyUnfound = keyOnly;
    keyOnlyUnfound.Registry.back().Values.pop_back();
    keyOnlyUnfound.Faults = unread.Faults;
    // The recovery's enable of an adapter running with a disable pending is
    // not on disk (the SYSTEM hive's flush fails), the walk before the run
    // cannot read the adapter, and the tool, which can disable neither
    // adapter, only writes their keys: its entry names a disable until that
    // enable is on disk.
    simulator::Machine unsettled = TwoAdapters();
    for (simulator::Device& device : unsettled.Devices) {
        device.Status &= ~platform::DN_DISABLEABLE;
    }
    unsettled.Devices[0].InstanceId = u"PCI\\VEN_1";
    unsettled.Registry.push_back(JournalKey({{"0001", u"PCI\\VEN_1"}}));
    unsettled.Faults = {Failing(Operation::RegFlushKey, 1117, 1),
                        On(0, Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 5), platform::SPDRP_DEVICEDESC)};
    const std::string key = "{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    // A recovery's line on an entry, and the outcome of one that failed.
    auto recovery = [&key](const std::string& entry, const std::string& rest) {
        return "  recovery: " + key + entry + ", left by an interrupted run: " + rest;
    };
    const std::string notEnabled =
        "  outcome 1: failed: 1 adapter left disabled by an interrupted run not enabled again";
    struct Case {
        const char* name;
        const simulator::Machine* machine;
        int code;
        std::vector<std::string> lines; // in the log, in this order
        std::size_t left;               // entries left in the journal
        bool placeable = true;          // the installed programs can be placed
    } cases[] = {
        {"recovered",
         &left,
         0,
         {recovery("0001 (PCI\\VEN_1)", "disabled; enabled again, its entry is cleared\n"),
          recovery("0005 (PCI\\VEN_5)", "running, maybe with a disable pending until the next boot; enabled, its entry "
                                        "kept until the run has restarted it\n"),
          recovery("0009 (PCI\\VEN_9)", "not present now, so its entry is kept for the run after it is back\n"),
          // The one that never stopped may run with its old setting.
          "  restart owed: SYSTEM\\CurrentControlSet\\Control\\Class\\" + key + "0005: ",
          "  outcome 0: success: 1 adapter left disabled by an interrupted run enabled again; ",
          "every adapter's driver key is as wanted, and every adapter was restarted.\n"},
         1},
        {"recovered, asking for a restart",
         &restarting,
         3010,
         {"  Need Restart Computer\n",
          "  outcome 3010: restart needed: 1 adapter left disabled by an interrupted run enabled again; every "
          "adapter's driver key is as wanted, in force after a restart of the computer (Windows asked for it).\n"},
         1},
        {"answered, but still disabled",
         &ignoring,
         1,
         {recovery(
              "0001 (PCI\\VEN_1)",
              "disabled; the class installer answered the enable, but it still reads disabled, so its entry is kept\n"),
          notEnabled},
         2},
        {"answered, its state unread after",
         &unsure,
         1,
         {recovery("0001 (PCI\\VEN_1)", "disabled; the class installer answered the enable, but its state cannot be "
                                        "read now (a Configuration Manager code, 0x0000001E), so its entry is kept\n"),
          notEnabled},
         2},
        {"refused, then enabled by the run",
         &refusedRunning,
         0,
         {recovery("0005 (PCI\\VEN_5)", "running, maybe with a disable pending until the next boot; the class "
                                        "installer did not enable it, so its entry is kept\n"),
          "  journal: " + key +
              "0005 (PCI\\VEN_5) is cleared: the run's restart enabled its adapter, which the recovery had not\n",
          "  outcome 0: success: 1 adapter left disabled by an interrupted run enabled again; every adapter's driver "
          "key is as wanted, and every adapter was restarted.\n"},
         1},
        {"refused, beside one the recovery did not find",
         &refusedBesideUnfound,
         1,
         {recovery("0005 (PCI\\VEN_5)", "not present now"), notEnabled},
         2},
        {"refused, its key not as wanted",
         &unset,
         1,
         {"  CM_GET_DevNode_Status FAILED\n  Full Driver Key=SYSTEM\\CurrentControlSet\\Control\\Class\\" + key +
              "0001\n  before the run: SYSTEM\\CurrentControlSet\\Control\\Class\\" + key +
              "0001: WapiSupport absent (an adapter the tool picked that the walk before the run did not)\n  "
              "DisableEnableDevice FAILED\n",
          "  journal: " + key +
              "0001 is kept: it was left by an interrupted run, and the recovery could not settle it\n"},
         2},
        {"refused, its key not as wanted, its record not flushed",
         &unflushed,
         1,
         {"  the journal, HKLM\\SOFTWARE\\Tessary\\Restarting, cannot take the entry of " + key +
              "0005 (PCI\\VEN_5) (error 5",
          "  no adapter may be restarted without its entry: nothing was touched\n"},
         3},
        // Whatever else the run cannot do, it enables them first.
        {"recovered, the programs not placed",
         &left,
         1,
         {recovery("0001 (PCI\\VEN_1)", "disabled; enabled again"),
          "  installed program: C:\\Program Files\\Tessary\\tessary-preflight.exe placed\n  the installed programs "
          "could not be placed: refused\n",
          "  outcome 1: failed: 1 adapter left disabled by an interrupted run enabled again; the installed programs "
          "could not be placed (see the log).\n"},
         2, // the one owed a restart waits for the run that restarts it
         false},
        {"beside devices without a driver key",
         &others,
         0,
         {recovery("0009 (PCI\\VEN_9)", "not present now"),
          "  outcome 0: success: 1 adapter left disabled by an interrupted run enabled again; "},
         1},
        {"a device that cannot be read",
         &unread,
         1,
         {recovery("0001 (PCI\\VEN_1)",
                   "not found, but not every device could be read, so it may be present; its entry is kept\n"),
          recovery("0009 (PCI\\VEN_9)", "not found, but"),
          "  outcome 1: failed: 2 adapters left disabled by an interrupted run not enabled again"},
         2}, // the one found running was restarted by the run
        {"an entry that holds no text",
         &untyped,
         0,
         {recovery("0001", "disabled; enabled again, its entry is cleared\n")},
         1},
        {"entries of adapters no disable was asked for",
         &keyOnly,
         0,
         {recovery("0001 (PCI\\VEN_1)", "disabled, though that run had not asked to disable it: left so, its entry"),
          "0009 (PCI\\VEN_9), left by an interrupted run that had not asked to disable it: not present now",
          "  outcome 0: success: every adapter's driver key is as wanted, and every adapter was restarted.\n"},
         0},
        {"an entry that names no disable, its adapter's state unread",
         &keyOnlyUnread,
         0,
         {recovery("0001 (PCI\\VEN_1)", "its state cannot be read (a Configuration Manager code, 0x0000001E), though "
                                        "that run had not asked to disable it: its entry kept"),
          "0001 (PCI\\VEN_1) is not an adapter the tool picks now, so no run can restart it: its entry is cleared\n",
          "  outcome 0: success: "},
         0},
        {"entries that name no disable, beside a device that cannot be read",
         &keyOnlyUnfound,
         0,
         {"  recovery: " + key +
              "0001 (PCI\\VEN_1), left by an interrupted run that had not asked to disable it: not found, but not "
              "every device could be read, so it may be present; its entry kept until the run has restarted it\n",
          "  journal: " + key + "0001 (PCI\\VEN_1) is not an adapter the tool picks now, so no run can restart it",
          "  outcome 0: success: every adapter's driver key is as wanted, and every adapter was restarted.\n"},
         0},
        {"enabled, its enable not on disk, then only its key written",
         &unsettled,
         3010,
         {recovery("0001 (PCI\\VEN_1)", "running, maybe with a disable pending until the next boot; enabled, its "
                                        "entry kept until the run has restarted it (it could not be written again")},
         0},
        {"a driver key name reused by another device",
         &reused,
         0,
         {recovery("0001 (PCI\\VEN_1)", "its driver key name is another device's now, so the device it named was "
                                        "removed (and comes back enabled); its entry is cleared\n")},
         1},
    };
    for (const Case& c : cases) {
        FakeDeploySystem system;
        system.InstallWorks = c.placeable;
        EXPECT_EQ(Deploy(*c.machine, u"/a", &system), c.code) << c.name << "\n" << system.Log;
        EXPECT_TRUE(EnablesOnDiskBeforeEntriesNameNoDisable(*c.machine)) << c.name << "\n" << system.Log;
        std::size_t at = 0;
        for (const std::string& line : c.lines) {
            std::size_t found = system.Log.find(line, at);
            EXPECT_NE(found, std::string::npos) << c.name << ": " << line << system.Log;
            at = found == std::string::npos ? at : found;
        }
        EXPECT_EQ(JournalOf(simulator::Current()).size(), c.left) << c.name << system.Log;
        if (c.machine == &keyOnly || c.machine == &keyOnlyUnread || c.machine == &keyOnlyUnfound) {
            EXPECT_TRUE(Disabled(simulator::Current().Devices[0])) << system.Log;
        }
        if (c.machine == &unset) {
            // The tool opening its key records no entry in place of the
            // one that names its device.
            auto entries = JournalOf(simulator::Current());
            EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
                return entry.second.Data == simulator::TextBytes(u"PCI\\VEN_1");
            })) << system.Log;
        }
    }

    // An uninstall that leaves one not present does the rest, but fails and
    // keeps the programs: with them gone, no run would enable it once back.
    FakeDeploySystem removing;
    EXPECT_EQ(Deploy(left, u"/d", &removing), DEPLOY_FAILED) << removing.Log;
    EXPECT_FALSE(removing.Removed) << removing.Log;
    EXPECT_NE(removing.Log.find("no run would enable an adapter an interrupted run left disabled once it is back"),
              std::string::npos)
        << removing.Log;
    EXPECT_NE(removing.Log.find("outcome 1: failed: 1 adapter left disabled by an interrupted run enabled again; 1 "
                                "adapter left disabled by an interrupted run not present now, for a /d after it is "
                                "back to enable.\n"),
              std::string::npos)
        << removing.Log;

    // One the recovery took for not present (its driver key name unread),
    // which the run then restarts, is not left for a /d after it is back.
    simulator::Machine unfound = left;
    unfound.Registry.back().Values.pop_back(); // no entry of one not present
    unfound.Faults = {On(1, Failing(Operation::SetupDiGetDeviceRegistryPropertyW, platform::ERROR_INVALID_DATA),
                         platform::SPDRP_DRIVER)};
    FakeDeploySystem deleting;
    EXPECT_NE(Deploy(unfound, u"/d", &deleting), DEPLOY_FAILED) << deleting.Log;
    EXPECT_TRUE(deleting.Removed) << deleting.Log;
    EXPECT_TRUE(JournalOf(simulator::Current()).empty()) << deleting.Log;

    // The adapter that was gone is not the check's concern until it is back,
    // disabled, as a device disabled in the hardware profile comes back; the
    // first deployment then enables it.
    FakeDeploySystem before;
    ASSERT_EQ(Deploy(left, u"/a", &before), 0) << before.Log;
    simulator::Machine back = simulator::Current();
    CheckAnswer away = testsupport::CheckInstalledMachine(SettingAction::Add);
    EXPECT_EQ(away.ExitCode, CHECK_COMPLIANT) << away.Line;
    EXPECT_NE(away.Line.find("not present now (the first deployment after it is back enables it): " + key + "0009"),
              std::string::npos)
        << away.Line;
    // Its driver key name another device's now: the device it named was
    // removed, and comes back enabled, so the check names nothing of it.
    simulator::Machine renamed = back;
    renamed.Devices.push_back(testsupport::NetDevice("Mouse", "USB", "0009"));
    renamed.Devices.back().InstanceId = u"USB\\VEN_OTHER";
    simulator::Install(renamed);
    CheckAnswer reusedAnswer = testsupport::CheckInstalledMachine(SettingAction::Add);
    EXPECT_EQ(reusedAnswer.Line.find("0009"), std::string::npos) << reusedAnswer.Line;
    simulator::Device returned = testsupport::NetDevice("Corvane Wireless AX", "PCI", "0009");
    DisableByUser(returned);
    returned.InstanceId = u"PCI\\VEN_9";
    back.Devices.push_back(returned);
    back.Registry.push_back(testsupport::DriverKey(std::string(testsupport::NET_CLASS_KEY) + "\\0009"));
    back.Registry.back().Values = left.Registry[0].Values;
    simulator::Install(back);
    CheckAnswer returnedAnswer = testsupport::CheckInstalledMachine(SettingAction::Add);
    EXPECT_EQ(returnedAnswer.ExitCode, CHECK_NOT_COMPLIANT) << returnedAnswer.Line;
    FakeDeploySystem after;
    EXPECT_EQ(Deploy(back, u"/a", &after), 0) << after.Log;
    EXPECT_NE(after.Log.find("0009 (PCI\\VEN_9), left by an interrupted run: disabled; enabled again, its entry is "
                             "cleared"),
              std::string::npos)
        << after.Log;
    EXPECT_FALSE(Disabled(simulator::Current().Devices[2]));
    EXPECT_TRUE(JournalOf(simulator::Current()).empty());
    // It was disabled: enabled, its driver started afresh with its key as it
    // stands, and it owes no restart.
    EXPECT_TRUE(testsupport::CallsOf("RegSetValueExW").empty()) << after.Log;
}

} // namespace
