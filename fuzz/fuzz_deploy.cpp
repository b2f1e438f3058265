// Fuzzes whole deployment runs over a simulated machine built from the input
// (see fuzzed_machine.h), with journal entries an interrupted run may have
// left, the deployment's own work stood in for, and at times a kill at any
// call. A run cut short is followed by one over the machine as it left it,
// without faults, as the next deployment would find it. Beyond the
// sanitizers, it checks what no run may leave behind: a value changed but
// the setting, or changed against the action; an adapter disabled that no
// entry that names a disable names; a driver key opened to write, or a
// disable, that the journal did not hold on disk first; an entry cleared, or
// written as naming no disable, before its adapter's new state was on disk;
// a machine touched by a run that did not have the one run at a time; an
// adapter an interrupted run left disabled that is still so without its
// entry; and an adapter left disabled by a run that answers success, or an
// entry left in the journal by one that answers 0.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/exit_codes.h"
#include "fuzz/fuzzed_machine.h"
#include "platform/inspection.h"
#include "platform/sim/simulator.h"
#include "preflight/journal.h"
#include "setting/driver_setting.h"
#include "tests/support/deploy_runs.h"
#include "tests/support/machines.h"

namespace {

using simulator::Device;
using simulator::Machine;
using testsupport::Disabled;

const std::u16string JOURNAL = JOURNAL_KEY;
const std::u16string SETTING = u"WapiSupport";

// The log entries of the runs so far, shown with a broken invariant.
std::string runLogs;

[[noreturn]] void Fail(const std::string& what)
{
    (void)std::fprintf(stderr, "the deployment's log:\n%s", runLogs.c_str());
    fuzzing::Fail(what);
}

std::u16string DriverKeyName(const Device& device)
{
    const simulator::Property& driver = device.Properties[simulator::SLOT_DRIVER];
    return driver.Readable ? simulator::TextIn(driver.Bytes) : u"";
}

// Whether the journal holds an entry for the device at that index, by its
// driver key name and, when asked, its instance ID (as the deployment finds
// an entry; one written while the ID could not be read holds none); with
// mayBeDisabled, only one that may name an adapter a run disabled, not one
// kept for a key written before any disable (REG_MULTI_SZ).
bool EntryFor(const Machine& machine, std::size_t index, bool byInstanceToo = true, bool mayBeDisabled = false)
{
    const simulator::Key* journal = testsupport::KeyOf(machine, JOURNAL);
    const Device& device = machine.Devices[index];
    std::u16string name = DriverKeyName(device);
    std::u16string instance = device.InstanceId.empty() ? simulator::DefaultInstanceId(index) : device.InstanceId;
    return journal != nullptr && !name.empty() &&
           std::any_of(journal->Values.begin(), journal->Values.end(), [&](const auto& entry) {
               return simulator::SameRegistryName(entry.first, name) &&
                      (!mayBeDisabled || entry.second.Type != platform::REG_MULTI_SZ) &&
                      (!byInstanceToo || simulator::TextIn(entry.second.Data) == instance);
           });
}

// Whether no two devices share a driver key name. Windows gives each device a
// key of its own, and the journal, like the registry, holds one entry per
// name.
bool DistinctDriverKeys(const Machine& machine)
{
    for (std::size_t i = 0; i < machine.Devices.size(); ++i) {
        for (std::size_t j = i + 1; j < machine.Devices.size(); ++j) {
            std::u16string name = DriverKeyName(machine.Devices[i]);
            if (!name.empty() && simulator::SameRegistryName(name, DriverKeyName(machine.Devices[j]))) {
                return false;
            }
        }
    }
    return true;
}

// Entries that an interrupted run may have left: most name a device of the
// machine, by its driver key name and instance ID; some a device that is
// gone, or hold what no run writes.
void AddJournal(FuzzedDataProvider& input, Machine* machine)
{
    int entries = input.ConsumeIntegralInRange(0, 3);
    if (entries == 0) {
        return;
    }
    simulator::Key journal;
    journal.Path = JOURNAL;
    for (int i = 0; i < entries; ++i) {
        std::size_t index = input.ConsumeIntegralInRange<std::size_t>(0, machine->Devices.size() - 1);
        const Device& device = machine->Devices[index];
        std::u16string name = DriverKeyName(device);
        std::u16string instance = device.InstanceId.empty() ? simulator::DefaultInstanceId(index) : device.InstanceId;
        switch (input.ConsumeIntegralInRange(0, 7)) {
        case 0:
            name = u"{4d36e972-e325-11ce-bfc1-08002be10318}\\0099";
            break;
        case 1:
            instance = u"PCI\\GONE";
            break;
        default:
            break;
        }
        if (name.empty() || std::any_of(journal.Values.begin(), journal.Values.end(), [&name](const auto& entry) {
                return simulator::SameRegistryName(entry.first, name);
            })) {
            continue;
        }
        // Mostly text; at times a key-only entry, or a REG_DWORD (4).
        int kind = input.ConsumeIntegralInRange(0, 7);
        platform::DWORD type = kind == 0 ? 4 : kind == 1 ? platform::REG_MULTI_SZ : platform::REG_SZ;
        std::vector<std::uint8_t> data = simulator::TextBytes(instance);
        data.insert(data.end(), type == platform::REG_MULTI_SZ ? 2 : 0, 0);
        journal.Values.emplace_back(name, simulator::Value{type, data});
    }
    machine->Registry.push_back(journal);
    // The adapters an interrupted run would have left disabled.
    for (const auto& [name, value] : journal.Values) {
        for (Device& device : machine->Devices) {
            if (simulator::SameRegistryName(DriverKeyName(device), name) && input.ConsumeBool()) {
                testsupport::DisableByUser(device);
            }
        }
    }
}

bool SameRegistry(const Machine& first, const Machine& second)
{
    return std::equal(first.Registry.begin(), first.Registry.end(), second.Registry.begin(), second.Registry.end(),
                      [](const simulator::Key& one, const simulator::Key& other) {
                          return one.Path == other.Path && one.Values == other.Values;
                      });
}

// Every key but the journal as it was, but for the setting, which the action
// may have written as the two bytes of "1" (/a) or deleted (/d).
void CheckRegistry(const Machine& before, const Machine& after, bool add)
{
    for (const simulator::Key& key : after.Registry) {
        if (!simulator::SameRegistryName(key.Path, JOURNAL) && testsupport::KeyOf(before, key.Path) == nullptr) {
            Fail("a key was made: " + simulator::QuoteText(key.Path));
        }
    }
    for (const simulator::Key& was : before.Registry) {
        const simulator::Key* now = testsupport::KeyOf(after, was.Path);
        if (simulator::SameRegistryName(was.Path, JOURNAL)) {
            continue;
        }
        if (now == nullptr) {
            Fail("a key was removed: " + simulator::QuoteText(was.Path));
        }
        // The values by name, the setting taken out of them.
        std::map<std::u16string, simulator::Value> old(was.Values.begin(), was.Values.end());
        std::map<std::u16string, simulator::Value> values(now->Values.begin(), now->Values.end());
        auto oldSetting = old.extract(SETTING);
        auto setting = values.extract(SETTING);
        if (values != old) {
            Fail("a value other than the setting changed, went or was added in " + simulator::QuoteText(was.Path));
        }
        if (oldSetting && !setting && add) {
            Fail("/a deleted the setting in " + simulator::QuoteText(was.Path));
        }
        if (setting && !(oldSetting && oldSetting.mapped() == setting.mapped()) &&
            (!add || !(setting.mapped() == simulator::Value{platform::REG_SZ, {0x31, 0}}))) {
            Fail("the setting was written, but not as /a writes it, in " + simulator::QuoteText(was.Path));
        }
    }
}

// From the trace: each driver key opened for writing names an adapter whose
// journal entry had been written and flushed before it, and each disable the
// class installer was asked for one whose entry names a disable (not a
// key-only one, REG_MULTI_SZ); and no entry goes after its adapter's state
// changed (an enable or a disable asked of the class installer) before the
// SYSTEM hive, which keeps that state, was written to disk since, nor is
// one that names a disable written as naming none after a change the class
// installer carried out before then.
void CheckJournalAgainstStates(const Machine& before)
{
    std::map<std::string, bool> journalKeys; // handles open on the journal
    std::map<std::string, std::string> systemKeys;
    std::map<std::string, std::pair<std::string, bool>> written; // the name, and whether it names a disable
    std::vector<std::string> onDisk;       // quoted driver key names flushed, of entries that name a disable
    std::vector<std::string> onDiskAny;    // and of any entry
    std::vector<std::string> changedSince; // of adapters changed since the SYSTEM hive was last flushed
    std::vector<std::string> carriedSince; // of those, the changes the class installer carried out
    auto drop = [](std::vector<std::string>* names, const std::string& name) {
        names->erase(std::remove(names->begin(), names->end(), name), names->end());
    };
    if (const simulator::Key* journal = testsupport::KeyOf(before, JOURNAL)) {
        for (const auto& entry : journal->Values) {
            onDiskAny.push_back(simulator::QuoteText(entry.first)); // left by the run before
            if (entry.second.Type != platform::REG_MULTI_SZ) {
                onDisk.push_back(simulator::QuoteText(entry.first));
            }
        }
    }
    const std::string system = simulator::QuoteText(u"SYSTEM");
    for (const simulator::Call& call : simulator::Trace()) {
        const std::string& operation = call.Operation;
        bool opened = (operation == "RegCreateKeyExW" || operation == "RegOpenKeyExW") && call.Result("result") == "0";
        if (opened && call.Argument("path") == simulator::QuoteText(JOURNAL)) {
            journalKeys[call.Result("key")] = true;
        } else if (opened && call.Argument("path").rfind(system.substr(0, system.size() - 1), 0) == 0) {
            systemKeys[call.Result("key")] = call.Argument("path");
        } else if ((operation == "RegFlushKey" && systemKeys.count(call.Argument("key")) != 0 &&
                    call.Result("result") == "0") ||
                   // a registry without the hive has none to write
                   (operation == "RegOpenKeyExW" && call.Argument("path") == system && call.Result("result") == "2")) {
            changedSince.clear();
            carriedSince.clear();
        } else if ((operation == "RegSetValueExW" || operation == "RegQueryValueExW") &&
                   journalKeys.count(call.Argument("key")) != 0 && call.Result("result") == "0") {
            // An entry found there already, which names its device, is not
            // written again: the flush that follows puts it on disk.
            bool namesDisable =
                operation == "RegSetValueExW" ? call.Argument("type") != "7" : call.Result("type") != "7";
            const std::string& name = call.Argument("name");
            written[call.Argument("key")] = {name, namesDisable};
            if (!namesDisable && operation == "RegSetValueExW" &&
                std::find(onDisk.begin(), onDisk.end(), name) != onDisk.end() &&
                std::find(carriedSince.begin(), carriedSince.end(), name) != carriedSince.end()) {
                Fail("an entry was written as naming no disable before its adapter's new state was on disk: " +
                     call.Line());
            }
            if (!namesDisable) {
                drop(&onDisk, name);
            }
        } else if (operation == "RegFlushKey" && written.count(call.Argument("key")) != 0 &&
                   call.Result("result") == "0") {
            const auto& [name, namesDisable] = written[call.Argument("key")];
            onDiskAny.push_back(name);
            if (namesDisable) {
                onDisk.push_back(name);
            }
        } else if (operation == "RegDeleteValueW" && journalKeys.count(call.Argument("key")) != 0 &&
                   call.Result("result") == "0") {
            const std::string& name = call.Argument("name");
            drop(&onDisk, name);
            drop(&onDiskAny, name);
            if (std::find(changedSince.begin(), changedSince.end(), name) != changedSince.end()) {
                Fail("an entry went before its adapter's new state was on disk: " + call.Line());
            }
        } else if (operation == "RegOpenKeyExW" && call.Argument("access") == "0xf003f" &&
                   call.Result("result") == "0") {
            for (const Device& device : before.Devices) {
                std::u16string name = DriverKeyName(device);
                if (!name.empty() && call.Argument("path") == simulator::QuoteText(DRIVER_KEY_PREFIX + name) &&
                    std::find(onDiskAny.begin(), onDiskAny.end(), simulator::QuoteText(name)) == onDiskAny.end()) {
                    Fail("a driver key was opened to write before the journal held its adapter on disk: " +
                         call.Line());
                }
            }
        } else if (operation == "SetupDiCallClassInstaller" &&
                   (call.Argument("stateChange") == "1" || call.Argument("stateChange") == "2")) {
            std::size_t index = std::stoul(call.Argument("index"));
            std::string name =
                index < before.Devices.size() ? simulator::QuoteText(DriverKeyName(before.Devices[index])) : "";
            changedSince.push_back(name);
            if (call.Result("ok") == "1") {
                carriedSince.push_back(name);
            }
            if (call.Argument("stateChange") == "2" && std::find(onDisk.begin(), onDisk.end(), name) == onDisk.end()) {
                Fail("a disable came before the journal held its adapter on disk: " + call.Line());
            }
        }
    }
}

// What any run, whole or cut short, may leave: original is the machine
// before the first run.
void CheckRun(const Machine& original, const Machine& before, bool add, bool whole, int code)
{
    const Machine& after = simulator::Current();
    if (!simulator::Violations().empty()) {
        Fail(simulator::Violations()[0]);
    }
    if (whole && code != DEPLOY_SUCCESS && code != DEPLOY_FAILED && code != DEPLOY_BUSY &&
        code != DEPLOY_RESTART_NEEDED) {
        Fail("the run answered " + std::to_string(code));
    }
    CheckRegistry(original, after, add);
    CheckJournalAgainstStates(before);
    for (std::size_t i = 0; i < after.Devices.size(); ++i) {
        if (!Disabled(original.Devices[i]) && Disabled(after.Devices[i])) {
            if (!EntryFor(after, i, false, true)) {
                Fail("device " + std::to_string(i) + " was left disabled, and no journal entry names its disable");
            }
            if (whole && (code == DEPLOY_SUCCESS || code == DEPLOY_RESTART_NEEDED)) {
                Fail("device " + std::to_string(i) + " was left disabled by a run that answered " +
                     std::to_string(code));
            }
        }
        // One an interrupted run left disabled keeps its entry until it is
        // enabled again, whatever the run answers.
        if (Disabled(after.Devices[i]) && Disabled(before.Devices[i]) && EntryFor(before, i, true, true) &&
            !EntryFor(after, i, false)) {
            Fail("device " + std::to_string(i) +
                 ", left disabled by an interrupted run, is still so without its "
                 "journal entry");
        }
        // (A run that answers 3010 may keep the entry of an adapter still
        // owed a restart, for the next run.)
        if (whole && code == DEPLOY_SUCCESS && EntryFor(after, i)) {
            Fail("a run that answered 0 left the journal entry of device " + std::to_string(i));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    platform::UseOperations(&simulator::PlatformOperations());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    bool add = !input.ConsumeBool(); // as the scan's inputs begin
    const char16_t* command = add ? u"/a" : u"/d";
    Machine machine = fuzzing::MakeMachine(input);
    if (!DistinctDriverKeys(machine)) {
        return -1; // not a machine Windows makes: kept out of the corpus
    }
    // An error by which the platform answers that there are no more devices,
    // that a device has no such property (or, asking for room but for none,
    // that its value is empty), or that a key or value is not there, is an
    // answer, and the deployment rightly takes it as one: here such faults
    // fail otherwise. (The machine's registry leaves keys and values out.)
    for (simulator::Fault& fault : machine.Faults) {
        bool property = fault.Call == simulator::Operation::SetupDiGetDeviceRegistryPropertyW;
        bool lookup = fault.Call == simulator::Operation::RegOpenKeyExW ||
                      fault.Call == simulator::Operation::RegQueryValueExW ||
                      fault.Call == simulator::Operation::RegDeleteValueW;
        if ((fault.Call == simulator::Operation::SetupDiEnumDeviceInfo &&
             fault.Error == platform::ERROR_NO_MORE_ITEMS) ||
            (lookup && fault.Error == platform::ERROR_FILE_NOT_FOUND) ||
            (property && fault.Error == platform::ERROR_INVALID_DATA) ||
            (property && fault.Error == platform::ERROR_INSUFFICIENT_BUFFER && fault.SetsRequiredSize &&
             fault.RequiredSize == 0)) {
            fault.Error = 5;
            fault.SetsRequiredSize = false;
        }
    }
    AddJournal(input, &machine);
    if (input.ConsumeBool()) {
        simulator::Fault kill;
        kill.Call = static_cast<simulator::Operation>(input.ConsumeIntegralInRange(0, simulator::OPERATION_COUNT - 1));
        kill.Nth = input.ConsumeIntegralInRange<std::uint64_t>(1, 60);
        kill.Kill = true;
        machine.Faults.insert(machine.Faults.begin(), kill);
    }
    testsupport::FakeDeploySystem first;
    const RunLock locks[] = {RunLock::Acquired, RunLock::Abandoned, RunLock::Busy, RunLock::Untrusted};
    first.Lock = locks[input.ConsumeIntegralInRange(0, 7) % 4 == 3 ? input.ConsumeIntegralInRange(2, 3)
                                                                   : input.ConsumeIntegralInRange(0, 1)];
    first.InstallWorks = input.ConsumeIntegralInRange(0, 7) != 0;
    first.ProgramsInPlace = input.ConsumeBool();
    int code = -1;
    bool killed = false;
    try {
        code = testsupport::Deploy(machine, command, &first);
    } catch (const simulator::Killed&) {
        killed = true;
    }
    runLogs = first.Log;
    CheckRun(machine, machine, add, !killed, code);
    if ((first.Lock == RunLock::Busy || first.Lock == RunLock::Untrusted) &&
        (!SameRegistry(simulator::Current(), machine) || code == DEPLOY_SUCCESS)) {
        Fail("a run without the one run at a time touched the registry, or answered success");
    }
    if (!killed) {
        return 0;
    }
    // The next deployment, on the machine as the kill left it.
    Machine left = simulator::Current();
    left.Faults.clear();
    testsupport::FakeDeploySystem second;
    second.Lock = RunLock::Abandoned;
    code = testsupport::Deploy(left, command, &second);
    runLogs += second.Log;
    CheckRun(machine, left, add, true, code);
    return 0;
}
