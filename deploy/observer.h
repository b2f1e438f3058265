// The deployment's view of the platform calls made through it: a table of
// operations that passes each call on to another table (the real platform's,
// or the double's) and notes what the deployment needs to judge and log a
// run. The tool's code and the deployment's own questions call platform::X as
// always, once the program has chosen this table.
#pragma once

#include <string>
#include <vector>

#include "platform/inspection.h"
#include "platform/operations_table.h"
#include "preflight/compliance.h"
#include "preflight/journal.h"

namespace observer {

// The observer's table, passing each call on to under, which outlives it.
const platform::Operations& ObservedOperations(const platform::Operations& under);

// A call that failed: its operation, and the error it left or returned.
struct FailedCall {
    const char* Operation;
    platform::DWORD Error;
    bool ConfigurationCode; // a CONFIGRET of the Configuration Manager, not a Windows error
    std::size_t OutputAt;   // how much of the output was printed before it
};

// A state change the class installer was asked for, and whether it did it.
struct StateChange {
    platform::DEVINST DevInst;
    platform::DWORD Change; // DICS_DISABLE or DICS_ENABLE
    bool Done;
    // The device's install parameters were read after it, and asked for a
    // restart of the computer: a disable done so, on a device that still
    // runs, waits for the next boot (as one whose parameters were not read
    // may).
    bool ParamsRead = false;
    bool RestartAsked = false;
};

// Forgets everything noted and written so far.
void Reset();

// Starts noting failed calls, state changes and requests for a restart of
// the computer (true), or stops. Failures that are the platform's usual
// answers are not noted: the end of the device list, a property a device
// lacks or that needs more room.
void Record(bool on);
const std::vector<FailedCall>& FailedCalls();
const std::vector<StateChange>& StateChanges();
// Whether install parameters read while recording carried DI_NEEDRESTART or
// DI_NEEDREBOOT: the platform asked for a restart of the computer.
bool RestartRequested();
// Whether they did so after any state change of that device, or may have:
// its last state change was an enable after which they could not be read.
bool RestartRequested(platform::DEVINST devInst);
// Whether that device's last state change was such an enable, so that
// whether Windows asked for a restart of the computer after it is not known;
// or any device's.
bool RestartUnknown(platform::DEVINST devInst);
bool RestartUnknown();

// A restart the journal recorded while recording and keeping it: the device,
// its entry, and what the class installer did with it since.
struct JournaledRestart {
    platform::DEVINST DevInst = 0; // 0 until the class installer is asked to disable it, for an Unlisted one
    JournalEntry Entry;
    platform::LSTATUS Recorded =
        platform::ERROR_SUCCESS; // not ERROR_SUCCESS: the entry was not recorded, and the disable refused
    bool Disabled = false;       // the class installer carried out the disable
    // And then an enable: the entry was cleared once the install parameters
    // after it were read (ClearTried), unless Kept or Windows asked for a
    // restart of the computer.
    bool Enabled = false;
    // The class installer answered the enable, but the device read disabled
    // right after it (StateRead CR_SUCCESS), or its state could not be read
    // (StateRead): the entry stays until the device reads enabled.
    bool Kept = false;
    platform::CONFIGRET StateRead = platform::CR_SUCCESS;
    bool ClearTried = false;
    // Or, Windows having asked for a restart of the computer after it, the
    // entry was written again as owed that restart (OwedRecorded: the
    // write's status).
    bool OwesComputer = false;
    platform::LSTATUS OwedRecorded = platform::ERROR_SUCCESS;
    platform::LSTATUS Cleared = platform::ERROR_SUCCESS;   // for ClearTried: the clear's status
    platform::LSTATUS Unflushed = platform::ERROR_SUCCESS; // and its flush's (see ClearRestart)
    // A driver key the tool opened for writing that the deployment had not
    // recorded (an adapter its own walk did not pick: one plugged in since,
    // say), recorded then by its driver key name; or an entry owed a restart
    // whose adapter that walk did not pick (Owed). Before holds its key as
    // it stood, read just before.
    bool Unlisted = false;
    bool Owed = false;
    bool KeyOpened = false;   // the tool opened its driver key for writing: its walk reached it
    bool KeyWritable = false; // and that open succeeded: the tool may have written the key
    PickedAdapter Before;
};

// Keeps the journal while recording (true), or stops: before a driver key
// is opened for writing, and before the class installer is asked to disable
// a device, its entry must be on disk. One the deployment recorded before the
// run (Journaled) is; any other is recorded and flushed then, a key's as
// KeyOnly, and one KeyOnly again before the disable, as one whose adapter
// may be disabled; an open or a disable whose entry cannot be recorded is
// refused (the call fails with the journal's error). Once the class installer has enabled the device
// again, and its install parameters after that ask for no restart of the
// computer, the entry is cleared.
void KeepJournal(bool on);
// Notes an entry the deployment recorded and flushed for a device before
// the run.
void Journaled(platform::DEVINST devInst, const JournalEntry& entry);
// Notes an entry on disk owed a restart whose adapter the deployment's walk
// did not pick, so that the tool's own walk, if it picks it, keeps the entry
// as it stands; reads its key as it stands (the record's Before).
const JournaledRestart& JournaledOwed(const JournalEntry& entry);
const std::vector<JournaledRestart>& JournaledRestarts();
// What the observer calls when the tool first opens for writing the key of
// an adapter the deployment did not record before the run (Unlisted), its
// entry on disk and before the key is opened: its record, with its key as it
// stood. Set until Reset; nullptr for none.
using UnlistedKeyVisitor = void (*)(const JournaledRestart& restart, void* context);
void OnUnlistedKey(UnlistedKeyVisitor visit, void* context);

// Whether standard output reaches the process's own (true), or is only kept.
void PassOutput(bool on);
// Everything written to standard output, kept or passed.
const std::string& Output();

} // namespace observer
