// The control interface that tests and the simulated build's main() use.
#include <stdexcept>

#include "platform/sim/call_recorder.h"
#include "platform/sim/simulated_operations.h"
#include "platform/sim/simulator.h"
#include "platform/sim/state.h"

namespace simulator {

const platform::Operations& PlatformOperations()
{
#define TESSARY_BACKEND platform::simulated
#include "platform/backend_tables.inc"
#undef TESSARY_BACKEND
}

void Install(Machine machine)
{
    for (std::size_t i = 0; i < machine.Faults.size(); ++i) {
        FaultProblem problem = ProblemOf(machine.Faults[i]);
        if (!problem.Problem.empty()) {
            throw std::invalid_argument("fault " + std::to_string(i) + ", " + problem.Member + ": " + problem.Problem);
        }
    }
    State& sim = Sim();
    // Handles keep counting up, so that one from an earlier machine is never
    // taken for one of this machine's.
    std::uintptr_t nextHandle = sim.NextHandle;
    sim = State{};
    sim.NextHandle = nextHandle;
    sim.Installed = std::move(machine);
    sim.KeysByPath = IndexByRegistryName(sim.Installed.Registry);
    sim.FaultFired.assign(sim.Installed.Faults.size(), 0);
}

Machine& Current()
{
    return Sim().Installed;
}

const std::vector<Call>& Trace()
{
    return Sim().Trace;
}

void SetTracing(bool enabled)
{
    Sim().Tracing = enabled;
}

void SetLastError(DWORD error)
{
    Sim().LastError = error;
}

const std::string& Output()
{
    return Sim().Output;
}

const std::vector<StateChange>& StateChanges()
{
    return Sim().StateChanges;
}

void SetEcho(bool enabled)
{
    Sim().Echo = enabled;
}

std::vector<std::string> OpenResources()
{
    const State& sim = Sim();
    std::vector<std::string> open;
    for (const DeviceSet& set : sim.Sets) {
        open.push_back("device information set " + Hex(set.Id));
    }
    for (const OpenKey& key : sim.Keys) {
        open.push_back("registry key " + Utf16ToUtf8(sim.Installed.Registry[key.KeyIndex].Path));
    }
    for (const auto& block : sim.Blocks) {
        open.push_back("memory block of " + Decimal(block.second.Size) + " bytes");
    }
    return open;
}

std::uint64_t CallsMade()
{
    return Sim().CallsMade;
}

std::uint64_t CallsOf(Operation operation)
{
    return Sim().CallCounts[static_cast<int>(operation)];
}

bool IsTracedOperation(const std::string& name)
{
    Operation operation = Operation::SetupDiGetClassDevsW;
    for (const char* unfailing :
         {"lstrcpynW", "lstrcmpW", "lstrcatW", "GetLastError", "Output", "SetLastError", "IsProcessElevated"}) {
        if (name == unfailing) {
            return true;
        }
    }
    return OperationNamed(name, &operation);
}

bool InsidePlatform()
{
    return Sim().Depth > 0;
}

const std::vector<std::string>& Violations()
{
    return Sim().Violations;
}

} // namespace simulator
