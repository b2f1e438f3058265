// The pre-flight's replay: the tool run in memory, over the simulated
// platform, on a snapshot of a machine, and what that run would change.
#pragma once

#include <string>

#include "common/types.h"
#include "platform/platform.h"
#include "preflight/compliance.h"
#include "preflight/snapshot.h"

struct Replay {
    std::string ToolOutput; // what tessary.exe would print, lines ending in "\n"
    std::string Changes;    // the report of what it would change, headed
};

// Runs the tool's own entry point with these arguments on the snapshot's
// ReplayMachine, installed on the double, whose table must be in use; reports
// each driver key's WapiSupport before and after, each adapter disabled and
// enabled, and what the snapshot could not tell.
Replay ReplayTool(const Snapshot& snapshot, int argc, const platform::WCHAR* const* argv);

// Whether the setting is in force as /a (Add) or /d (Delete) would leave it,
// judged on the snapshot's ReplayMachine with the adapters the tool would
// pick there; a key named in the answer carries the snapshot's note on it.
// Like ReplayTool, it runs with the double's table in use.
CheckAnswer CheckSnapshot(const Snapshot& snapshot, SettingAction action);

// CheckSnapshot over a snapshot that was taken; for none (null), the machine
// could not be read: "no snapshot: " and why.
CheckAnswer CheckTaken(const Snapshot* snapshot, const std::string& error, SettingAction action);
