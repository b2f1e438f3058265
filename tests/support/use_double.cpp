// The tests run on the double: its table of operations is chosen before any
// test runs, as a program's entry chooses one (the deployment's tests pass
// through its observer only while a run lasts, see deploy_runs.h).
#include "platform/sim/simulator.h"

namespace {

const bool doubleChosen = (platform::UseOperations(&simulator::PlatformOperations()), true);

} // namespace
