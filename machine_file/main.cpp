// The simulated build's process entry: the tool over a machine file, or over
// the built-in demo machine.
#include "machine_file/simulated_run.h"

int main(int argc, char** argv)
{
    return RunOnSimulatedMachine("tessary", argc, argv, TessaryMain);
}
