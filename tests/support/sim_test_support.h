// Helpers for tests that run the tool's code on the simulated platform.
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

// Installs a machine of these devices with a driver key for each one that
// has a readable driver key name.
void InstallDevices(const std::vector<simulator::Device>& devices, std::vector<simulator::Fault> faults = {});

// The recorded calls, one "Operation" or "Operation name=value" summary each,
// leaving out the string functions and GetLastError; "Output" calls show
// their text. Handy for checking the order of calls.
std::vector<std::string> CallSummary(const std::vector<std::string>& arguments = {});

// The recorded calls of one operation.
std::vector<simulator::Call> CallsOf(const std::string& operation);

} // namespace testsupport
