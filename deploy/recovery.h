// Recovering the restarts an interrupted run left behind: the adapters the
// journal names, which such a run may have left disabled, or with a disable
// pending until the next boot.
#pragma once

#include <string>
#include <vector>

#include "deploy/deploy.h"
#include "preflight/journal.h"

struct Recovery {
    std::vector<std::string> Lines; // what was found and done, for the log
    std::size_t Enabled = 0;        // adapters found disabled that the class installer enabled again
    std::size_t Failed = 0;         // adapters it could not enable, whose entries stay
    std::size_t Uncleared = 0;      // entries of adapters enabled again that could not be cleared
    // The driver key names of the adapters found running, or in a state that
    // could not be read, and enabled (which cancels a disable pending until
    // the next boot), or not, for a KeyOnly entry: the run cut short may have written their keys without
    // restarting them, so they are owed a restart, and their entries stay
    // until the run restarts them. One found disabled starts afresh when it
    // is enabled, and its entry is cleared.
    std::vector<JournalEntry> Owed;
    // The entries it left for a later run: of adapters it could not enable,
    // not present, or not found while not every device could be read. No
    // restart of this run settles them.
    std::vector<JournalEntry> Waiting;
    // Of those, the adapters not present, every device read: disabled in
    // the hardware profile, they come back disabled.
    std::size_t Away = 0;
    // Of those, the ones counted in Failed.
    std::vector<JournalEntry> NotEnabled;
    // The entries of the adapters it asked the class installer to enable:
    // their state may have changed.
    std::vector<JournalEntry> Touched;
    // The entries owed a restart of the computer, which the run's outcome
    // answers for: a ComputerRestart one (its adapter is not restarted
    // again), and that of an adapter found disabled whose enable asked for
    // a restart of the computer (counted in Enabled; the entry stays as it
    // was until the outcome is known).
    std::vector<JournalEntry> ComputerOwed;
};

// What follows a journal entry cleared whose flush to disk failed (see
// ClearRestart): "" when it was flushed.
std::string UnflushedClear(platform::LSTATUS unflushed, DeploySystem* system);

// For each entry: when its adapter is present, enables it through the class
// installer, with the same calls as the tool's enable, which also cancels a
// disable pending until the next boot (a device that runs on may have one, so
// every adapter found is enabled), and clears the entry of one found disabled
// once the class installer did it (see Owed for the others). An adapter that is not present keeps its entry: one
// disabled in the hardware profile comes back disabled when it is plugged in
// again. The adapter of a KeyOnly entry (the run had not asked to disable
// it) is not enabled; the entry is cleared when the adapter reads disabled,
// or is not present while every device was read, as its driver reads its
// key as it starts, and else owed (one not found while not every device
// could be read as well). A ComputerRestart entry's adapter is not enabled
// either: it was restarted whole; the entry is cleared when the adapter is
// not present while every device was read, else owed (see ComputerOwed).
// What the tool's enable prints goes to the observer's output (the
// deployment notes it in the log, not on the console); the log's lines give
// each error with the system's text. Needs the observer to be recording, which
// tells whether the class installer did it.
Recovery RecoverInterruptedRestarts(const std::vector<JournalEntry>& entries, DeploySystem* system);
