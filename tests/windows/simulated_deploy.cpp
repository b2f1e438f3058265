// A test program for Windows: the deployment, with its own work on Windows
// done for real, over one simulated Corvane adapter (the tests' own, so that
// it has every property the scan reads) and its driver key. When
// TESSARY_TEST_VETOED is set, the adapter's driver refuses to stop, so that
// the run needs a restart of the computer. It installs the pre-flight beside
// it when that has the digest TESSARY_TEST_PREFLIGHT_DIGEST names, and waits
// TESSARY_TEST_LOCK_WAIT_MS for another run to end, when it is set.
#include <cstdlib>

#include "deploy/deploy.h"
#include "deploy/observer.h"
#include "deploy/win_system.h"
#include "tests/support/machines.h"

int wmain(int argc, wchar_t** argv)
{
    simulator::Device adapter = testsupport::NetDevice("Corvane Wireless");
    const char* vetoed = std::getenv("TESSARY_TEST_VETOED");
    if (vetoed != nullptr && *vetoed != 0) {
        adapter.OnStateChange = simulator::Reaction::Vetoed;
    }
    platform::UseOperations(&observer::ObservedOperations(simulator::PlatformOperations()));
    simulator::Install(testsupport::MachineOf({adapter}));
    simulator::SetTracing(false);
    simulator::SetEcho(true);
    const char* digest = std::getenv("TESSARY_TEST_PREFLIGHT_DIGEST");
    const char* wait = std::getenv("TESSARY_TEST_LOCK_WAIT_MS");
    WindowsDeploySystem system(digest != nullptr ? digest : "",
                               wait != nullptr ? std::strtoul(wait, nullptr, 10) : RUN_LOCK_WAIT_MILLISECONDS);
    return RunDeploy(argc, reinterpret_cast<const platform::WCHAR* const*>(argv), &system);
}
