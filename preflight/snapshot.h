// A read-only picture of the machine the platform shows, as a simulated
// machine: what the pre-flight replays the tool on, checks, and saves as a
// machine file. Taken through the platform boundary, so the same code runs
// over the real platform and over the simulated one.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/machine.h"

// What the picture could not tell of a driver key: that its security could
// not be judged, or that it could not be read.
struct KeyNote {
    std::u16string Path;
    std::string Text;
    bool Security;                 // about its security, which a check of the setting cannot see
    platform::DWORD ReadError = 0; // for a key that could not be read: the registry's error
};

struct Snapshot {
    simulator::Machine Machine;
    std::vector<KeyNote> Notes;
};

// Takes the snapshot: every present device in member-index order (the set the
// tool opens), its status and problem or the status query's failure, each
// property of SIMULATOR_DEVICE_PROPERTIES exactly as the platform returns it
// (bytes, or the read's error), and for each device whose driver key name can be read, whether its
// key exists, its WapiSupport value if any, whether this process may read it
// and whether it may open it with full access; and whether the process runs
// elevated; each device's instance ID (one that cannot be read as a fault
// of that read, which fires every time); and the deployment's journal, if
// there is one. Opens keys for reading only and changes nothing. False, with
// a one-line reason, when the device list cannot be opened.
bool TakeSnapshot(Snapshot* snapshot, std::string* error);

// How many driver keys the snapshot holds: the keys of its registry but the
// deployment's journal.
std::size_t CountDriverKeys(const Snapshot& snapshot);

// The machine a replay of the tool runs on: every device reacts as an adapter
// does (a snapshot cannot know how a driver takes a restart) and nothing is
// made to fail, but what the snapshot judged and the instance IDs it could
// not read. Taken without elevation, each
// driver key is opened for writing as its own security allows, which the
// snapshot judged for this process, and the class installer refuses every
// change of state, as it refuses a standard user.
simulator::Machine ReplayMachine(const simulator::Machine& snapshot);

// The notes on a driver key's security, or "" when there are none.
std::string SecurityNoteOn(const Snapshot& snapshot, const std::u16string& keyPath);
