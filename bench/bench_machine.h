// Machine files for measuring the scan: many devices, 1% of them adapters
// that the tool selects.
#pragma once

#include <cstddef>
#include <string>

// The JSON text of a machine of that many devices: per hundred, one Corvane
// wireless adapter (on PCI or USB, with its driver key), ten other network
// devices and eighty-nine devices of other classes.
std::string BenchMachineJson(std::size_t devices);
