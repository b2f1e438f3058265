// The pieces of the machine-file format that both reading and writing back
// use: what a device's state and a registry key look like in a document.
#pragma once

#include <string>

#include "machine_file/json_document.h"
#include "platform/sim/machine.h"

namespace simulator {

// The reactions a device may have, by their names in machine files.
struct ReactionName {
    Reaction Kind;
    const char* Name;
};
inline constexpr ReactionName REACTION_NAMES[] = {
    {Reaction::Adapter, "adapter"},       {Reaction::Ignore, "ignore"}, {Reaction::NeedRestart, "needrestart"},
    {Reaction::NeedReboot, "needreboot"}, {Reaction::Vetoed, "vetoed"}, {Reaction::Stuck, "stuck"},
};

// The shape of a machine file: the members of its objects, and where its
// objects and arrays stand.
const ShapeNode& MachineFileShape();

// What a run may change in a device, as the document gives it: its status,
// problem and pending disable, with their defaults where left out.
Device ReadDeviceState(const ordered_json& value, const std::string& place);

// A registry key of the document: its path, access and values.
Key ReadKey(const std::string& path, const ordered_json& value, const std::string& place);

} // namespace simulator
