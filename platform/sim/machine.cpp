#include "platform/sim/machine.h"

namespace simulator {

std::u16string DefaultInstanceId(std::size_t index)
{
    std::u16string digits;
    for (std::size_t rest = index; digits.size() < 4 || rest != 0; rest /= 10) {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + rest % 10));
    }
    return u"ROOT\\SIMULATED\\" + digits;
}

int PropertySlotOf(DWORD code)
{
    for (int slot = 0; slot < PROPERTY_SLOTS; ++slot) {
        if (PROPERTY_KINDS[slot].Code == code) {
            return slot;
        }
    }
    return -1;
}

const OperationKind& KindOf(Operation operation)
{
    return OPERATION_KINDS[static_cast<int>(operation)];
}

bool OperationNamed(const std::string& name, Operation* operation)
{
    for (int i = 0; i < OPERATION_COUNT; ++i) {
        if (name == OPERATION_KINDS[i].Name) {
            *operation = static_cast<Operation>(i);
            return true;
        }
    }
    return false;
}

namespace {

// The operations that take a filter, named for a message.
std::string OperationsWith(unsigned filter)
{
    std::string names;
    for (const OperationKind& kind : OPERATION_KINDS) {
        if ((kind.Filters & filter) != 0) {
            names += std::string(names.empty() ? "" : ", ") + kind.Name;
        }
    }
    return names;
}

} // namespace

FaultProblem ProblemOf(const Fault& fault)
{
    const OperationKind& kind = KindOf(fault.Call);
    std::string name = kind.Name;
    if (fault.Device >= 0 && (kind.Filters & DEVICE_FILTER) == 0) {
        return {"device", name + " does not act on one device"};
    }
    if (fault.Property >= 0 && (kind.Filters & PROPERTY_FILTER) == 0) {
        return {"property", name + " reads no property; only " + OperationsWith(PROPERTY_FILTER) + " do"};
    }
    if (fault.StateChange >= 0 && (kind.Filters & STATE_CHANGE_FILTER) == 0) {
        return {"stateChange", name + " carries no state change; only " + OperationsWith(STATE_CHANGE_FILTER) + " do"};
    }
    if (fault.Kill && (fault.Error != 0 || fault.SetsRequiredSize)) {
        return {"kill", "a fault that kills the run at a call fails it with no error"};
    }
    if (fault.SetsRequiredSize &&
        ((kind.Filters & REQUIRED_SIZE) == 0 || fault.Error != platform::ERROR_INSUFFICIENT_BUFFER)) {
        return {"requiredSize", "only a property read failing with error 122 (ERROR_INSUFFICIENT_BUFFER) reports a "
                                "required size"};
    }
    if (!fault.Kill && kind.Report == FailureReport::ReturnedCode && fault.Error == 0) {
        return {"error", name + " answers 0 for success; a failure needs another code"};
    }
    if (fault.Times == 0 || fault.Times < -1) {
        return {"times", "a fault fires a whole number of times of at least 1, or always (-1)"};
    }
    return {};
}

} // namespace simulator
