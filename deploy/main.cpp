// tessary-deploy.exe's process entry: the deployment over the real platform,
// watched by the observer layer.
#include <exception>
#include <string>

#include "deploy/deploy.h"
#include "deploy/observer.h"
#include "deploy/outcome.h"
#include "deploy/win_system.h"
#include "platform/win/win_console.h"
#include "platform/win/windows_operations.h"
#include "preflight_digest.h"

int wmain(int argc, wchar_t** argv)
{
    static_assert(sizeof(wchar_t) == sizeof(platform::WCHAR), "Windows text is UTF-16");
    platform::UseOperations(&observer::ObservedOperations(platform::WindowsOperations()));
    // Reading its own file, as it starts, may run out of memory too: the
    // answer is then a failure, not the runtime's abort.
    try {
        WindowsDeploySystem system(TESSARY_PREFLIGHT_DIGEST);
        return RunDeploy(argc, reinterpret_cast<const platform::WCHAR* const*>(argv), &system);
    } catch (const std::exception& problem) {
        std::string line = std::string("tessary-deploy: stopped: ") + problem.what() + "\n";
        (void)winconsole::WriteError(line.data(), line.size());
        return DEPLOY_FAILED;
    }
}
