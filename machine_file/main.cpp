// The simulated build's process entry: the tool over a machine file, or over
// the built-in demo machine.
#include "machine_file/simulated_run.h"
#include "platform/sim/simulator.h"

int main(int argc, char** argv)
{
    platform::UseOperations(&simulator::PlatformOperations());
    return RunOnSimulatedMachine("tessary", argc, argv, TessaryMain);
}
