// The entry of the programs that run on the simulated platform (tessary and
// tessary-deploy on Linux): the machine they act on, and its files, kept as
// the user wants them.
#pragma once

#include <functional>

#include "platform/platform.h"

// The status of a run that a fault with "kill" stopped, as a shell shows a
// process killed by SIGKILL.
constexpr int KILLED_STATUS = 137;

// Loads the machine file TESSARY_SIM_MACHINE names (the built-in demo machine
// when it is unset or empty), refuses a machine file or trace file
// (TESSARY_SIM_TRACE) that could not be written as the user would want before
// anything runs, runs program with the command line as UTF-16, and writes
// back the machine's changes and the trace, both or neither. A run that a
// fault kills stops at that call: the machine is written as it stood there,
// and the status is KILLED_STATUS. Problems of the simulated platform, not
// of the program, are one message on standard error, named "NAME (simulated
// platform)", and status 2. Otherwise answers the program's status.
// logVariable names the environment variable of a file the program appends
// its log to, if it keeps one: one that is the machine file, the trace file
// or a project's own file is refused before anything runs as well.
int RunOnSimulatedMachine(const char* name, int argc, char** argv,
                          const std::function<int(int, const platform::WCHAR* const*)>& program,
                          const char* logVariable = nullptr);
