// A read-only picture of the machine the platform shows, as a simulated
// machine: what the pre-flight replays the tool on, and saves as a machine
// file. Taken through the platform boundary, so the same code runs over the
// real platform and over the simulated one.
#pragma once

#include <string>

#include "platform/sim/machine.h"

// The class key below which every driver key lies.
inline constexpr char16_t DRIVER_CLASS_KEY[] = u"SYSTEM\\CurrentControlSet\\Control\\Class\\";

// Takes the snapshot: every present device in member-index order (the set the
// tool opens), its status and problem or the status query's failure, its four
// properties exactly as the platform returns them (bytes, or the read's
// error), and for each device whose driver key name can be read, whether its
// key exists, its WapiSupport value if any, and whether this process may open
// it with full access; and whether the process runs elevated. Opens keys for
// reading only and changes nothing. False, with a one-line reason, when the
// device list cannot be opened.
bool TakeSnapshot(simulator::Machine* machine, std::string* error);
