#include "tests/support/check_runs.h"

#include "preflight/replay.h"
#include "preflight/snapshot.h"

namespace testsupport {

CheckAnswer CheckInstalledMachine(SettingAction action)
{
    Snapshot snapshot;
    std::string error;
    bool taken = TakeSnapshot(&snapshot, &error);
    return CheckTaken(taken ? &snapshot : nullptr, error, action);
}

} // namespace testsupport
