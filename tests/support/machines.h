// Simulated machines for tests: the devices the tool looks for, their
// driver keys, and the machine they make. Adding a property to the scan means
// giving NetDevice a value for it; every adapter built from it follows (the
// double's own tests build their devices otherwise).
#pragma once

#include <string>
#include <vector>

#include "platform/sim/simulator.h"

namespace testsupport {

constexpr const char* NET_CLASS_KEY = "{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr const char* CLASS_KEY_PREFIX = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

simulator::Property TextProperty(const std::string& text);
simulator::Property BytesProperty(std::vector<std::uint8_t> bytes);

// A working network device; the driver key name is NET_CLASS_KEY\<instance>.
simulator::Device NetDevice(const std::string& description, const std::string& enumerator = "PCI",
                            const std::string& instance = "0001");

// The registry key of a driver key name, with no values.
simulator::Key DriverKey(const std::string& driverKeyName);

// A machine of these devices with a driver key for each one that has a
// readable driver key name, and the faults.
simulator::Machine MachineOf(const std::vector<simulator::Device>& devices, std::vector<simulator::Fault> faults = {});

// The key of a path in the machine, the names compared as the registry
// compares them; null when it has none.
const simulator::Key* KeyOf(const simulator::Machine& machine, const std::u16string& path);
// Installs MachineOf(devices, faults).
void InstallDevices(const std::vector<simulator::Device>& devices, std::vector<simulator::Fault> faults = {});

// A fault on an operation, with the error it leaves or returns; only on its
// nth call when nth is not 0, and only on that state change when stateChange
// is not -1.
simulator::Fault Failing(simulator::Operation call, platform::DWORD error, std::uint64_t nth = 0,
                         std::int64_t stateChange = -1);

// The fault, on the device of that index only and, given a property code,
// on that property only.
simulator::Fault On(std::int64_t device, simulator::Fault fault, std::int64_t property = -1);
// A fault that cuts the run short at the nth call of an operation (any call
// of it when nth is 0).
simulator::Fault KillAt(simulator::Operation call, std::uint64_t nth);
// Disables the device, as its user would in Device Manager.
void DisableByUser(simulator::Device& device);
// Gives every key of the machine WapiSupport, REG_SZ "1".
void SetOnEveryKey(simulator::Machine* machine);
// True when the device is disabled by the user, or its disable waits for
// the next boot.
bool Disabled(const simulator::Device& device);

} // namespace testsupport
