// What a deployment run came to, as the exit code that management systems
// read: Intune and Configuration Manager take 0 for success, 3010 for a
// success that needs a restart of the computer (a soft reboot), 1618 for
// another installation in progress (tried again later) and anything else
// they are not told of for a failure.
#pragma once

#include <cstddef>
#include <string>

#include "common/exit_codes.h"

// What happened in a run, as far as its outcome depends on it.
struct RunFacts {
    bool Usage = false; // the command line is not /a or /d: nothing was done
    bool Elevated = true;
    bool Busy = false;            // another deployment held the run's lock throughout the wait: nothing was done
    bool LockUntrusted = false;   // the lock's name is held by no deployment: nothing was done
    bool ProgramsPlaced = true;   // /a placed the installed programs before the run (after any recovery)
    bool ProgramsRemoved = true;  // /d removed them after the run
    bool ProgramsChanged = false; // a file of the installed programs was written or removed
    // The journal of restarts under way: it could not be read at the start,
    // or could not be made before the run (then the tool did not run).
    bool JournalUnreadable = false;
    bool JournalUnwritable = false;
    std::size_t Recovered = 0;         // adapters an interrupted run left disabled, enabled again
    std::size_t RestartsOwed = 0;      // adapters an interrupted run left running, enabled and owed a restart
    std::size_t RestartsStillOwed = 0; // such adapters the run could not restart, owed to the next run
    // Such adapters no walk of the run picked, whose keys are not as wanted
    // (or cannot be read).
    std::size_t OwedNotAsWanted = 0;
    std::size_t RecoveryFailed = 0;   // such adapters the class installer would not enable
    std::size_t AwayLeftDisabled = 0; // /d: such adapters not present, which the run cannot enable
    // Adapters a run that failed or was cut short restarted, for which
    // Windows asked for a restart of the computer that its exit 1 hid, or
    // that it never answered; this run answers for it.
    std::size_t ComputerRestartsOwed = 0;
    bool DeviceListOpened = true; // false too when its walk was cut short
    bool DeviceListCut = false;
    bool Ran = false;       // the tool ran
    bool NoAdapter = false; // no adapter to act on: the tool did not run
    // Of no adapter: a device that may be one after all could not be read
    // (see FindNearMisses).
    bool NoAdapterUnsure = false;
    bool AlreadyAsWanted = false; // every adapter as wanted: the tool did not run
    // Adapters not as wanted (or not readable) whose keys no run can change
    // (missing, or not to be opened as the tool opens them), when no other
    // adapter needs the run: the tool did not run.
    std::size_t KeysNoRunCanFix = 0;
    // After the tool ran, of the adapters it picked (but one that reads
    // disabled by the user, which this run never asked to disable):
    std::size_t KeysNotAsWanted = 0;      // the driver key is not as the action leaves it
    std::size_t KeysUnreadable = 0;       // the driver key cannot be read again
    std::size_t AdaptersLeftDisabled = 0; // the device is disabled now
    // The device runs, but its last disable was not undone and may wait for
    // the next boot.
    std::size_t AdaptersDisablePending = 0;
    bool RestartRequested = false;             // the install parameters asked for a restart
    bool RestartUnknown = false;               // or they could not be read after an enable
    std::size_t RestartsIncomplete = 0;        // the class installer did not both disable and enable it
    std::size_t UnchangedNotRestarted = 0;     // the same, of one whose key was as wanted before the run
    std::size_t AdaptersWaitingForRestart = 0; // whose state the run changed, and that report DN_NEED_RESTART
    std::size_t StatesUnconfirmed = 0;         // the device's status could not be read again
};

struct Outcome {
    int Code;
    std::string Meaning; // one line, for the log and the console
};

// The one mapping from what happened to the exit code:
//   2    the command line is not /a or /d;
//   1618 another deployment ran throughout the wait: nothing was done;
//   1    not elevated, the lock's name is held by no deployment (then
//        nothing was done), the installed programs could not be placed (then
//        nothing but a recovery was done) or removed, the journal could not be read or
//        kept, an adapter an interrupted run left disabled could not be
//        enabled again, or (/d) is not present now to be enabled, the
//        device list cannot be opened, no adapter was picked but a device
//        that may be one could not be read, the keys that are
//        not as wanted are ones no run can change, a picked adapter's driver
//        key is not as wanted afterwards, or cannot be read again (or,
//        of one owed a restart that no walk of the run picked, is not), or
//        a picked adapter is left disabled, or with its disable pending
//        until the next boot;
//   0    no adapter to act on, or every adapter already as wanted (nothing
//        was run, but for the recovery of an interrupted run), or every key
//        as wanted and every adapter disabled and enabled again with no
//        request for a restart (but one whose key was as wanted before the
//        run and owed no restart: its driver runs on that setting);
//   3010 every key as wanted, but a restart of the computer is needed before
//        the setting is in force everywhere: Windows asked for it, an
//        adapter an interrupted run left running is still owed its restart,
//        an adapter whose key the run changed and whose restart did not
//        complete (its driver still runs with the old setting), one for
//        which a run that failed or was cut short left a restart of the
//        computer owed, a device whose state the run changed that
//        reports DN_NEED_RESTART, or one
//        whose state could not be read again (its last state change not a
//        disable: a disable not undone counts it as left disabled, 1).
Outcome JudgeOutcome(const RunFacts& facts);
