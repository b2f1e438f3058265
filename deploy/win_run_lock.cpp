// Whether a deployment runs now, for the check, which does not take the lock.
#include "deploy/win_system.h"

#include <windows.h>

bool IsDeploymentRunning()
{
    // The mutex exists while a deployment holds it or waits for it.
    HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, RUN_LOCK_NAME);
    if (mutex == nullptr) {
        return false;
    }
    ::CloseHandle(mutex);
    return true;
}
