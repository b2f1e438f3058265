// Fuzzes one whole scan over a simulated machine built from the input:
// devices with arbitrary property bytes, status pairs and reactions, a
// registry, and faults at arbitrary calls. Beyond the sanitizers, it checks
// from the call trace what the tool must never do. (The registry changes only
// through the calls checked here, so no other value can change.)
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "discovery/adapter_scan.h"
#include "platform/sim/simulator.h"
#include "setting/driver_setting.h"
#include "tests/support/machines.h"

namespace {

using platform::DWORD;
using simulator::Device;
using simulator::Property;

const std::u16string PREFIX = DRIVER_KEY_PREFIX;
const std::u16string NET_KEY = u"{4d36e972-e325-11ce-bfc1-08002be10318}\\";

[[noreturn]] void Fail(const std::string& what)
{
    (void)std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    for (const simulator::Call& call : simulator::Trace()) {
        (void)std::fprintf(stderr, "  %s\n", call.Line().c_str());
    }
    __builtin_trap();
}

// A property: most often one of the texts that lead the scan on, otherwise
// raw bytes of any length, a driver key name near the length the key path
// allows, or unreadable.
Property MakeProperty(FuzzedDataProvider& input, const std::vector<std::u16string>& likely)
{
    int choice = input.ConsumeIntegralInRange(0, 5);
    if (choice < 3 || choice == 4) {
        std::u16string text = choice < 3 ? likely[input.ConsumeIntegralInRange<std::size_t>(0, likely.size() - 1)]
                                         : NET_KEY + std::u16string(input.ConsumeIntegralInRange(170, 240), u'k');
        return testsupport::BytesProperty(simulator::TextBytes(text));
    }
    if (choice == 3) {
        return testsupport::BytesProperty(input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 700)));
    }
    Property property;
    property.Error = input.ConsumeIntegral<DWORD>();
    property.Error = property.Error == platform::ERROR_INSUFFICIENT_BUFFER ? 13 : property.Error;
    return property;
}

Device MakeDevice(FuzzedDataProvider& input, int index)
{
    Device device;
    const DWORD statuses[] = {simulator::DEFAULT_STATUS, simulator::DEFAULT_STATUS & ~platform::DN_DISABLEABLE,
                              simulator::DEFAULT_STATUS | platform::DN_HAS_PROBLEM, input.ConsumeIntegral<DWORD>()};
    device.Status = statuses[input.ConsumeIntegralInRange(0, 3)];
    const DWORD problems[] = {0, platform::CM_PROB_DISABLED, platform::CM_PROB_HARDWARE_DISABLED,
                              input.ConsumeIntegral<DWORD>()};
    device.Problem = problems[input.ConsumeIntegralInRange(0, 3)];
    if (input.ConsumeIntegralInRange(0, 15) == 15) {
        device.StatusResult = input.ConsumeIntegralInRange<DWORD>(1, 0x3B);
    }
    Device adapter = testsupport::NetDevice("Corvane AX210 Wireless", "PCI", "000" + std::to_string(index));
    // Each property most often holds what the tests' own adapter holds, or a
    // near miss of it; a property without near misses here is fuzzed all
    // the same.
    std::vector<std::u16string> likely[simulator::PROPERTY_SLOTS];
    likely[simulator::SLOT_CLASS] = {u"net", u"Display"};
    likely[simulator::SLOT_ENUMERATOR] = {u"USB", u"SD"};
    likely[simulator::SLOT_DRIVER] = {NET_KEY + u"0000", u""};
    likely[simulator::SLOT_DESCRIPTION] = {u"Corvane AC600 Wi-Fi", u"Corvane Ethernet"};
    for (int slot = 0; slot < simulator::PROPERTY_SLOTS; ++slot) {
        likely[slot].push_back(simulator::TextIn(adapter.Properties[slot].Bytes));
        device.Properties[slot] = MakeProperty(input, likely[slot]);
    }
    const simulator::Reaction reactions[] = {simulator::Reaction::Adapter, simulator::Reaction::Ignore,
                                             simulator::Reaction::NeedRestart, simulator::Reaction::NeedReboot,
                                             simulator::Reaction::Vetoed};
    device.OnStateChange = reactions[input.ConsumeIntegralInRange(0, 4)];
    return device;
}

simulator::Machine MakeMachine(FuzzedDataProvider& input)
{
    simulator::Machine machine;
    machine.Elevated = input.ConsumeIntegralInRange(0, 7) != 0;
    int devices = input.ConsumeIntegralInRange(1, 6);
    for (int i = 0; i < devices; ++i) {
        machine.Devices.push_back(MakeDevice(input, i));
    }
    // A driver key for most devices, with other values beside the setting.
    for (const Device& device : machine.Devices) {
        const Property& driver = device.Properties[simulator::SLOT_DRIVER];
        if (!driver.Readable || input.ConsumeIntegralInRange(0, 3) == 0) {
            continue;
        }
        simulator::Key key;
        key.Path = PREFIX + simulator::TextIn(driver.Bytes);
        bool known = false;
        for (const simulator::Key& existing : machine.Registry) {
            known = known || simulator::SameRegistryName(existing.Path, key.Path);
        }
        if (known) {
            continue;
        }
        key.DenyFullAccess = input.ConsumeIntegralInRange(0, 7) == 0;
        key.Values.emplace_back(u"DriverDesc", simulator::Value{1, simulator::TextBytes(u"x")});
        if (input.ConsumeBool()) {
            key.Values.emplace_back(u"WapiSupport", simulator::Value{input.ConsumeIntegral<DWORD>(), {1, 2, 3}});
        }
        key.Values.emplace_back(u"NetworkAddress", simulator::Value{4, {1, 0, 0, 0}});
        machine.Registry.push_back(key);
    }
    int faults = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < faults; ++i) {
        simulator::Fault fault;
        fault.Call = static_cast<simulator::Operation>(input.ConsumeIntegralInRange(0, simulator::OPERATION_COUNT - 1));
        const simulator::OperationKind& kind = simulator::KindOf(fault.Call);
        if (input.ConsumeBool()) {
            fault.Nth = input.ConsumeIntegralInRange<std::uint64_t>(1, 40);
        }
        if ((kind.Filters & simulator::DEVICE_FILTER) != 0 && input.ConsumeIntegralInRange(0, 3) == 0) {
            fault.Device = input.ConsumeIntegralInRange<std::int64_t>(0, devices - 1);
        }
        fault.Error = input.ConsumeBool() ? platform::ERROR_INSUFFICIENT_BUFFER : input.ConsumeIntegral<DWORD>();
        if (fault.Error == 0 && kind.Report == simulator::FailureReport::ReturnedCode) {
            fault.Error = 5; // 0 is success for these
        }
        if ((kind.Filters & simulator::REQUIRED_SIZE) != 0 && fault.Error == platform::ERROR_INSUFFICIENT_BUFFER) {
            fault.SetsRequiredSize = true;
            const DWORD sizes[] = {0, 1, 2, 7, 64, 700, input.ConsumeIntegral<DWORD>()};
            fault.RequiredSize = sizes[input.ConsumeIntegralInRange(0, 6)];
        }
        fault.Times = input.ConsumeBool() ? -1 : input.ConsumeIntegralInRange(1, 3);
        machine.Faults.push_back(fault);
    }
    return machine;
}

std::uint64_t Number(const std::string& text)
{
    return text.empty() || text[0] < '0' || text[0] > '9' ? 0 : std::stoull(text);
}

// The scan's run, as ScanWirelessAdapters makes it, with each restart's
// answer kept: a false one is what the scan reports as a failed restart.
struct ScanRun {
    SettingAction Action;
    std::vector<bool> Reported; // by member index
};

void EditAndRestartNoting(DeviceRef device, const platform::SP_DEVINFO_DATA* /*deviceInfo*/,
                          const platform::WCHAR* driverKeyName, void* context)
{
    auto* run = static_cast<ScanRun*>(context);
    if (!EditAndRestartAdapter(run->Action, device, driverKeyName) && device.Index < run->Reported.size()) {
        run->Reported[device.Index] = true;
    }
}

// True when the device's driver key name, as the scan holds it, is too long
// for a key path: the editor refuses it before opening anything.
bool NameTooLong(const simulator::Machine& machine, std::int64_t index)
{
    return index >= 0 && index < static_cast<std::int64_t>(machine.Devices.size()) &&
           simulator::TextIn(machine.Devices[index].Properties[simulator::SLOT_DRIVER].Bytes).size() > 220;
}

void CheckTrace(const simulator::Machine& before, SettingAction action, const std::vector<bool>& reported)
{
    const simulator::Machine& after = simulator::Current();
    if (!simulator::Violations().empty()) {
        Fail(simulator::Violations()[0]);
    }
    const std::size_t callLimit = 200 * (before.Devices.size() + 1);
    if (simulator::Trace().size() > callLimit) {
        Fail("the walk made more calls than its devices can need");
    }
    std::int64_t current = -1; // the member index the scan is at
    std::int64_t edited = -1;  // the last index whose driver setting was edited
    bool localFreeFailed = false;
    for (const simulator::Call& call : simulator::Trace()) {
        const std::string& operation = call.Operation;
        if (operation == "SetupDiEnumDeviceInfo") {
            current = static_cast<std::int64_t>(Number(call.Argument("index")));
        } else if (operation == "SetupDiGetDeviceRegistryPropertyW") {
            std::string block = call.Argument("block");
            std::uint64_t size = Number(call.Argument("size"));
            if ((block == "null" && size != 0) || (block != "null" && size > Number(block))) {
                Fail("a property read passed a size beyond its block: " + call.Line());
            }
        } else if (operation == "RegOpenKeyExW") {
            if (current < 0 || current >= static_cast<std::int64_t>(before.Devices.size())) {
                Fail("a key was opened outside the walk");
            }
            std::u16string name = simulator::TextIn(before.Devices[current].Properties[simulator::SLOT_DRIVER].Bytes);
            if (name.size() > 220 || call.Argument("path") != simulator::QuoteText(PREFIX + name)) {
                Fail("the key opened is not the prefix and the device's whole driver key name: " + call.Line());
            }
            edited = current;
        } else if (operation == "SetupDiSetClassInstallParamsW" || operation == "SetupDiCallClassInstaller") {
            if (edited != current && !NameTooLong(before, current)) {
                Fail("an adapter was restarted before its setting was edited: " + call.Line());
            }
        } else if (operation == "RegSetValueExW" || operation == "RegDeleteValueW") {
            if (call.Argument("name") != "\"WapiSupport\"") {
                Fail("a value other than the setting was changed: " + call.Line());
            }
            if (operation == "RegSetValueExW" &&
                (action != SettingAction::Add || call.Argument("type") != "1" || call.Argument("data") != "\"31 00\"" ||
                 call.Argument("size") != "2")) {
                Fail("the setting was not written as the two bytes of \"1\": " + call.Line());
            }
            if (operation == "RegDeleteValueW" && action != SettingAction::Delete) {
                Fail("the setting was deleted by Add");
            }
        } else if (operation == "LocalFree" && call.Result("result") == "failed") {
            localFreeFailed = true;
        }
    }
    // An adapter the run leaves disabled, now or at the next boot, is one it
    // reported.
    for (std::size_t i = 0; i < before.Devices.size(); ++i) {
        const Device& was = before.Devices[i];
        const Device& now = after.Devices[i];
        bool disabled = (now.Status & platform::DN_HAS_PROBLEM) != 0 && now.Problem == platform::CM_PROB_DISABLED;
        bool wasDisabled = (was.Status & platform::DN_HAS_PROBLEM) != 0 && was.Problem == platform::CM_PROB_DISABLED;
        if (((disabled && !wasDisabled) || (now.PendingDisable && !was.PendingDisable)) && !reported[i]) {
            Fail("device " + std::to_string(i) + " was left disabled without a word");
        }
    }
    for (const std::string& open : simulator::OpenResources()) {
        if (open.rfind("memory block", 0) != 0 || !localFreeFailed) {
            Fail("left open: " + open);
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
    SettingAction action = input.ConsumeBool() ? SettingAction::Delete : SettingAction::Add;
    simulator::Machine machine = MakeMachine(input);
    simulator::Install(machine);
    ScanRun run{action, std::vector<bool>(machine.Devices.size(), false)};
    (void)EnumWirelessAdapters(EditAndRestartNoting, &run);
    CheckTrace(machine, action, run.Reported);
    return 0;
}
