// Whether a deployment runs now, for the check, which does not take the lock.
#include "deploy/win_system.h"

#include <windows.h>

bool IsDeploymentRunning()
{
    // The mutex exists while a deployment holds it or waits for it. One made
    // by SYSTEM may be closed to a user who runs the check: it is there all
    // the same.
    HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, RUN_LOCK_NAME);
    if (mutex == nullptr) {
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    ::CloseHandle(mutex);
    return true;
}
