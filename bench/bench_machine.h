// Machines for measuring the scan: many devices, 1% of them adapters that the
// tool selects.
#pragma once

#include <cstddef>

#include "platform/sim/machine.h"

// A machine of that many devices: per hundred, one Corvane wireless adapter
// (on PCI or USB, with its driver key), ten other network devices and
// eighty-nine devices of other classes. Every text has the same length at
// every size.
simulator::Machine BenchMachine(std::size_t devices);
