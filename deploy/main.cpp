// tessary-deploy.exe's process entry: the deployment over the real platform,
// watched by the observer layer.
#include <exception>
#include <string>

#include "deploy/deploy.h"
#include "deploy/observer.h"
#include "deploy/outcome.h"
#include "deploy/win_system.h"
#include "platform/win/windows_operations.h"
#include "preflight_digest.h"

int wmain(int argc, wchar_t** argv)
{
    static_assert(sizeof(wchar_t) == sizeof(platform::WCHAR), "Windows text is UTF-16");
    platform::UseOperations(&observer::ObservedOperations(platform::WindowsOperations()));
    WindowsDeploySystem system(TESSARY_PREFLIGHT_DIGEST);
    try {
        return RunDeploy(argc, reinterpret_cast<const platform::WCHAR* const*>(argv), &system);
    } catch (const std::exception& problem) {
        system.Warn(std::string("tessary-deploy: stopped: ") + problem.what());
        return DEPLOY_FAILED;
    }
}
