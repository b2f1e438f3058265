// The simulated platform: a machine of devices and a registry held in memory,
// standing in for the Windows services behind platform.h. Every platform call
// is recorded with the arguments that matter, and any call can be made to
// fail on demand. Tests and the simulated build's main() drive it through the
// functions below; docs/simulator.md describes it for its users.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/operations_table.h"
#include "platform/sim/machine.h"
#include "platform/sim/registry_names.h"
#include "platform/sim/text.h"

namespace simulator {

// The double's table of operations, for a program's entry or a test to
// choose (platform::UseOperations): each call acts on the installed machine.
const platform::Operations& PlatformOperations();

// What a fault with Kill throws at the call it matches, before the call takes
// effect: the run stops there, as if the process had been killed. Not a
// std::exception, so that nothing but a program's entry catches it.
struct Killed {
    std::string Operation;
    std::uint64_t Nth; // the call of that operation, counted from 1
};

// One recorded platform call: its operation, the arguments that matter and
// what it answered, each as name and text.
struct Call {
    std::string Operation;
    std::vector<std::pair<std::string, std::string>> Arguments;
    std::vector<std::pair<std::string, std::string>> Results;

    // The argument or result of that name, or "" when the call has none.
    std::string Argument(const std::string& name) const;
    std::string Result(const std::string& name) const;
    // "Operation name=value ... -> name=value ...", as in the trace file.
    std::string Line() const;
};

// Makes this the machine that the platform calls act on, and starts a new
// trace and output; anything left open by an earlier run is forgotten. A
// fault that cannot be (see ProblemOf) is refused with std::invalid_argument,
// so that a fault that would never fire cannot pass silently.
void Install(Machine machine);
Machine& Current();

const std::vector<Call>& Trace();
// Turns recording of the trace off or on (on after Install).
void SetTracing(bool enabled);

// Sets the error that GetLastError answers next, as SetLastError does.
void SetLastError(DWORD error);

// Everything the tool wrote to standard output since Install.
const std::string& Output();
// Also write the output to the real standard output (off after Install).
void SetEcho(bool enabled);

// A state change the class installer was asked for: the device's member
// index, the change stored for it (-1 when none was), and whether the class
// installer carried it out.
struct StateChange {
    std::size_t Index;
    std::int64_t Change;
    bool Done;
};

// The state changes asked for since Install, in order.
const std::vector<StateChange>& StateChanges();

// What the tool left open: device sets, registry keys and memory blocks.
std::vector<std::string> OpenResources();

// Platform calls made since Install, string functions included; and the
// calls made of one operation that a fault can make fail.
std::uint64_t CallsMade();
std::uint64_t CallsOf(Operation operation);

// True when the trace records calls of that name: an operation a fault can
// make fail, or one of the string functions, GetLastError and "Output".
bool IsTracedOperation(const std::string& name);

// True while a platform call runs: a memory allocation made then is the
// platform's, not the tool's.
bool InsidePlatform();

// Misuses of the platform that a real one would not survive (a size passed
// beyond its block); empty when the tool behaved.
const std::vector<std::string>& Violations();

} // namespace simulator
