#include "tests/support/check_runs.h"

#include "preflight/replay.h"
#include "preflight/snapshot.h"

namespace testsupport {

CheckAnswer CheckInstalledMachine(SettingAction action)
{
    Snapshot snapshot;
    std::string error;
    if (!TakeSnapshot(&snapshot, &error)) {
        return {CHECK_UNREADABLE, "no snapshot: " + error};
    }
    return CheckSnapshot(snapshot, action);
}

} // namespace testsupport
