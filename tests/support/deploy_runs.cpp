#include "tests/support/deploy_runs.h"

#include "deploy/observer.h"
#include "tests/support/machines.h"

namespace testsupport {

simulator::Machine TwoAdapters()
{
    return MachineOf({NetDevice("Corvane Wireless", "PCI", "0001"), NetDevice("Corvane Wi-Fi", "USB", "0005")});
}

int Deploy(const simulator::Machine& machine, const char16_t* command, FakeDeploySystem* system)
{
    simulator::Install(machine);
    observer::Reset(); // as in a new process
    const platform::WCHAR* argv[] = {u"tessary-deploy.exe", command, nullptr};
    return RunDeploy(2, argv, system);
}

} // namespace testsupport
