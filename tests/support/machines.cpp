#include "tests/support/machines.h"

namespace testsupport {

simulator::Property TextProperty(const std::string& text)
{
    return BytesProperty(simulator::TextBytes(simulator::Utf8ToUtf16(text)));
}

simulator::Property BytesProperty(std::vector<std::uint8_t> bytes)
{
    simulator::Property property;
    property.Readable = true;
    property.Bytes = std::move(bytes);
    return property;
}

simulator::Device NetDevice(const std::string& description, const std::string& enumerator, const std::string& instance)
{
    simulator::Device device;
    device.Properties[simulator::SLOT_CLASS] = TextProperty("Net");
    device.Properties[simulator::SLOT_ENUMERATOR] = TextProperty(enumerator);
    device.Properties[simulator::SLOT_DRIVER] = TextProperty(std::string(NET_CLASS_KEY) + "\\" + instance);
    device.Properties[simulator::SLOT_DESCRIPTION] = TextProperty(description);
    return device;
}

simulator::Key DriverKey(const std::string& driverKeyName)
{
    simulator::Key key;
    key.Path = simulator::Utf8ToUtf16(CLASS_KEY_PREFIX + driverKeyName);
    return key;
}

const simulator::Key* KeyOf(const simulator::Machine& machine, const std::u16string& path)
{
    for (const simulator::Key& key : machine.Registry) {
        if (simulator::SameRegistryName(key.Path, path)) {
            return &key;
        }
    }
    return nullptr;
}

void InstallDevices(const std::vector<simulator::Device>& devices, std::vector<simulator::Fault> faults)
{
    simulator::Install(MachineOf(devices, std::move(faults)));
}

simulator::Fault Failing(simulator::Operation call, platform::DWORD error, std::uint64_t nth, std::int64_t stateChange)
{
    simulator::Fault fault;
    fault.Call = call;
    fault.Error = error;
    fault.Nth = nth;
    fault.StateChange = stateChange;
    return fault;
}

simulator::Fault On(std::int64_t device, simulator::Fault fault, std::int64_t property)
{
    fault.Device = device;
    fault.Property = property;
    return fault;
}

simulator::Fault KillAt(simulator::Operation call, std::uint64_t nth)
{
    simulator::Fault fault;
    fault.Call = call;
    fault.Nth = nth;
    fault.Kill = true;
    return fault;
}

void DisableByUser(simulator::Device& device)
{
    device.Status |= platform::DN_HAS_PROBLEM;
    device.Problem = platform::CM_PROB_DISABLED;
}

void SetOnEveryKey(simulator::Machine* machine)
{
    for (simulator::Key& key : machine->Registry) {
        key.Values.emplace_back(u"WapiSupport", simulator::Value{platform::REG_SZ, {0x31, 0}});
    }
}

simulator::Machine MachineOf(const std::vector<simulator::Device>& devices, std::vector<simulator::Fault> faults)
{
    simulator::Machine machine;
    machine.Devices = devices;
    machine.Faults = std::move(faults);
    for (const simulator::Device& device : devices) {
        const simulator::Property& driver = device.Properties[simulator::SLOT_DRIVER];
        if (driver.Readable && driver.Bytes.size() >= 2) {
            std::u16string name(reinterpret_cast<const char16_t*>(driver.Bytes.data()), driver.Bytes.size() / 2 - 1);
            machine.Registry.push_back(DriverKey(simulator::Utf16ToUtf8(name)));
        }
    }
    return machine;
}

bool Disabled(const simulator::Device& device)
{
    return ((device.Status & platform::DN_HAS_PROBLEM) != 0 && device.Problem == platform::CM_PROB_DISABLED) ||
           device.PendingDisable;
}

} // namespace testsupport
