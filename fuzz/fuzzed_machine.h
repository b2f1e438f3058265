// A simulated machine built from a fuzzer's input: devices with arbitrary
// property bytes, status pairs and reactions, driver keys for most of them,
// and faults at arbitrary calls. The fuzzers of the scan and of the
// deployment run over it.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "platform/sim/simulator.h"

namespace fuzzing {

simulator::Machine MakeMachine(FuzzedDataProvider& input);

// Reports a broken invariant, with the run's calls, and stops the fuzzer
// with the input that broke it.
[[noreturn]] void Fail(const std::string& what);

} // namespace fuzzing
