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

// Installs MachineOf(devices, faults).
void InstallDevices(const std::vector<simulator::Device>& devices, std::vector<simulator::Fault> faults = {});

// A fault on an operation, with the error it leaves or returns; only on its
// nth call when nth is not 0, and only on that state change when stateChange
// is not -1.
simulator::Fault Failing(simulator::Operation call, platform::DWORD error, std::uint64_t nth = 0,
                         std::int64_t stateChange = -1);

// True when the device is disabled by the user, or its disable waits for
// the next boot.
bool Disabled(const simulator::Device& device);

} // namespace testsupport
