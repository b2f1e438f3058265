// A test program for Windows: the deployment, with its own work on Windows
// done for real, over one simulated Corvane adapter (the tests' own, so that
// it has every property the scan reads) and its driver key. When
// TESSARY_TEST_VETOED is set, the adapter's driver refuses to stop, so that
// the run needs a restart of the computer. It installs the pre-flight beside
// it when that has the digest TESSARY_TEST_PREFLIGHT_DIGEST names, and waits
// TESSARY_TEST_LOCK_WAIT_MS for another run to end, when it is set. Each call
// of the class installer takes TESSARY_TEST_SLOW_MS, when that is set, as a
// real driver's may, so that another run can start meanwhile. When
// TESSARY_TEST_SWAP_SELF names a file, once the deployment has started its
// own file is renamed aside and that file copied to its name, as another
// process may do while a run waits for the one before.
// The tool's headers first: the SDK's macros would replace its constants' names.
#include "deploy/deploy.h"
#include "deploy/observer.h"
#include "deploy/win_system.h"
#include "tests/support/machines.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

platform::Operations slowOperations;
unsigned long slowMilliseconds = 0;

platform::BOOL SlowClassInstaller(platform::UINT installFunction, platform::HDEVINFO set,
                                  platform::SP_DEVINFO_DATA* deviceInfo)
{
    ::Sleep(slowMilliseconds);
    return simulator::PlatformOperations().SetupDiCallClassInstaller(installFunction, set, deviceInfo);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    simulator::Device adapter = testsupport::NetDevice("Corvane Wireless");
    const char* vetoed = std::getenv("TESSARY_TEST_VETOED");
    if (vetoed != nullptr && *vetoed != 0) {
        adapter.OnStateChange = simulator::Reaction::Vetoed;
    }
    slowOperations = simulator::PlatformOperations();
    const char* slow = std::getenv("TESSARY_TEST_SLOW_MS");
    if (slow != nullptr && *slow != 0) {
        slowMilliseconds = std::strtoul(slow, nullptr, 10);
        slowOperations.SetupDiCallClassInstaller = SlowClassInstaller;
    }
    platform::UseOperations(&observer::ObservedOperations(slowOperations));
    simulator::Install(testsupport::MachineOf({adapter}));
    simulator::SetTracing(false);
    simulator::SetEcho(true);
    const char* digest = std::getenv("TESSARY_TEST_PREFLIGHT_DIGEST");
    const char* wait = std::getenv("TESSARY_TEST_LOCK_WAIT_MS");
    WindowsDeploySystem system(digest != nullptr ? digest : "",
                               wait != nullptr ? std::strtoul(wait, nullptr, 10) : RUN_LOCK_WAIT_MILLISECONDS);
    const char* swap = std::getenv("TESSARY_TEST_SWAP_SELF");
    if (swap != nullptr && *swap != 0) {
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring aside = std::wstring(self) + L".aside";
        std::wstring other(swap, swap + std::strlen(swap));
        if (!::MoveFileExW(self, aside.c_str(), MOVEFILE_REPLACE_EXISTING) || !::CopyFileW(other.c_str(), self, TRUE)) {
            (void)std::fprintf(stderr, "the program's own file could not be swapped (error %lu)\n", ::GetLastError());
            return 99;
        }
    }
    return RunDeploy(argc, reinterpret_cast<const platform::WCHAR* const*>(argv), &system);
}
