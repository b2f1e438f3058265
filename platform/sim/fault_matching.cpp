#include "platform/sim/fault_matching.h"

#include "platform/sim/state.h"

namespace simulator {

const Fault* FireFault(Operation operation, std::int64_t device, std::int64_t property, std::int64_t stateChange)
{
    State& sim = Sim();
    std::uint64_t nth = ++sim.CallCounts[static_cast<int>(operation)];
    const std::vector<Fault>& faults = sim.Installed.Faults;
    for (std::size_t i = 0; i < faults.size(); ++i) {
        const Fault& fault = faults[i];
        if (fault.Call != operation || (fault.Nth != 0 && fault.Nth != nth) ||
            (fault.Device >= 0 && fault.Device != device) || (fault.Property >= 0 && fault.Property != property) ||
            (fault.StateChange >= 0 && fault.StateChange != stateChange) ||
            (fault.Times >= 0 && sim.FaultFired[i] >= fault.Times)) {
            continue;
        }
        ++sim.FaultFired[i];
        if (fault.Kill) {
            if (sim.Tracing && !sim.Trace.empty()) {
                sim.Trace.back().Results = {{"killed", "1"}};
            }
            throw Killed{KindOf(operation).Name, nth};
        }
        return &fault;
    }
    return nullptr;
}

} // namespace simulator
