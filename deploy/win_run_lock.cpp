// The machine's one deployment at a time, as both the deployment, which
// takes it, and the check, which only asks, see it.
#include "deploy/win_system.h"

#include <windows.h>

#include "platform/win/win_files.h"

bool MadeByDeployment(void* mutex, std::string* problem)
{
    // Every deployment makes it owned by Administrators: one that a user's
    // own account owns was made by one of that account's processes.
    if (winfiles::TrustedOwner(mutex, SE_KERNEL_OBJECT, false, problem)) {
        return true;
    }
    *problem = "it " + *problem;
    return false;
}

DeploymentNow CurrentDeployment(std::string* problem)
{
    // A deployment's mutex lets everyone read whose it is, and stands while a
    // deployment holds it or waits for it.
    HANDLE mutex = ::OpenMutexW(READ_CONTROL, FALSE, RUN_LOCK_NAME);
    if (mutex == nullptr) {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return DeploymentNow::None;
        }
        *problem = "it cannot be opened (" + winfiles::Error(error) + ")";
        return DeploymentNow::Blocked;
    }
    bool made = MadeByDeployment(mutex, problem);
    ::CloseHandle(mutex);
    return made ? DeploymentNow::Running : DeploymentNow::Blocked;
}
