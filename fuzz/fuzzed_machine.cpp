#include "fuzz/fuzzed_machine.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "setting/driver_setting.h"
#include "tests/support/machines.h"

namespace fuzzing {

namespace {

using platform::DWORD;
using simulator::Device;
using simulator::Property;

const std::u16string PREFIX = DRIVER_KEY_PREFIX;
const std::u16string NET_KEY = u"{4d36e972-e325-11ce-bfc1-08002be10318}\\";

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
    const simulator::Reaction reactions[] = {simulator::Reaction::Adapter,     simulator::Reaction::Ignore,
                                             simulator::Reaction::NeedRestart, simulator::Reaction::NeedReboot,
                                             simulator::Reaction::Vetoed,      simulator::Reaction::Stuck};
    device.OnStateChange = reactions[input.ConsumeIntegralInRange(0, 5)];
    return device;
}

} // namespace

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

void Fail(const std::string& what)
{
    (void)std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    for (const simulator::Call& call : simulator::Trace()) {
        (void)std::fprintf(stderr, "  %s\n", call.Line().c_str());
    }
    __builtin_trap();
}

} // namespace fuzzing
