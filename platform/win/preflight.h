// The pre-flight's replay: the tool run in memory, over the simulated
// platform, on a snapshot of a machine, and what that run would change.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/sim/machine.h"

struct Replay {
    std::string ToolOutput; // what tessary.exe would print, lines ending in "\n"
    std::string Changes;    // the report of what it would change, headed
};

// Runs the tool's own entry point with these arguments on the snapshot, the
// devices reacting as adapters do, and reports each driver key's WapiSupport
// before and after, and each adapter disabled and enabled.
Replay ReplayTool(const simulator::Machine& snapshot, int argc, const platform::WCHAR* const* argv);
