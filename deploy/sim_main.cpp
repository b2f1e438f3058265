// tessary-deploy on the simulated platform: a deployment over a machine file
// (a snapshot saved by tessary-preflight.exe --save, say), or over the demo
// machine, its calls passing through the observer layer to the double.
#include "deploy/deploy.h"
#include "deploy/observer.h"
#include "deploy/sim_system.h"
#include "machine_file/simulated_run.h"
#include "platform/sim/simulator.h"

int main(int argc, char** argv)
{
    platform::UseOperations(&observer::ObservedOperations(simulator::PlatformOperations()));
    return RunOnSimulatedMachine(
        "tessary-deploy", argc, argv,
        [](int count, const platform::WCHAR* const* arguments) {
            SimulatedDeploySystem system;
            return RunDeploy(count, arguments, &system);
        },
        "TESSARY_SIM_LOG");
}
