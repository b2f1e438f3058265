// A test program for Windows: the deployment, with its own work on Windows
// done for real, over the simulated devices of TESSARY_SIM_MACHINE (the demo
// machine when it is not set). The machine's changes are not written back.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "deploy/deploy.h"
#include "deploy/win_system.h"
#include "machine_file/machine_file.h"

int wmain(int argc, wchar_t** argv)
{
    const char* path = std::getenv("TESSARY_SIM_MACHINE");
    simulator::MachineFile file;
    std::string error;
    bool loaded = path != nullptr && *path != 0
                      ? simulator::LoadMachineFile(path, &file, &error)
                      : simulator::LoadMachineText(simulator::DemoMachineText(), "demo", &file, &error);
    if (!loaded) {
        (void)std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    simulator::Install(file.Loaded);
    simulator::SetTracing(false);
    simulator::SetEcho(true);
    WindowsDeploySystem system;
    return RunDeploy(argc, reinterpret_cast<const platform::WCHAR* const*>(argv), &system);
}
