// Whether the driver setting is in force as /a or /d would leave it, on every
// adapter the tool would pick: judged from the machine the platform shows,
// through the tool's own choice of adapters, for reading only. The pre-flight
// asks it of a snapshot, the deployment of the live machine.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/exit_codes.h"
#include "common/types.h"
#include "platform/platform.h"
#include "preflight/journal.h"
#include "preflight/near_misses.h"

// The setting in one adapter's driver key.
enum class SettingState {
    Set,        // WapiSupport is a REG_SZ whose text, up to a terminator within its size, is "1"
    Other,      // WapiSupport holds something else
    Absent,     // the key holds no WapiSupport
    NoKey,      // the driver key does not exist
    Unreadable, // the key or the value could not be read, or the name does not fit a key path
};

// An adapter the tool would pick, and what was read of it.
struct PickedAdapter {
    platform::DWORD Index = 0;     // its member index in the walk's device set
    platform::DEVINST DevInst = 0; // the device node, which outlives the set
    std::u16string KeyPath;        // its driver key below the local machine root
    std::string Name;              // the log's name for one no walk found now (empty: by key path or index)
    SettingState Setting = SettingState::Unreadable;
    platform::DWORD ReadError = 0; // for Unreadable: the registry's error (0: the name does not fit)
    bool KeyOpened = false;        // the key opened for reading (a later read may still have failed)
    platform::DWORD ValueType = 0; // for Set and Other: the value as it stands
    std::vector<platform::BYTE> ValueData;
    bool StatusKnown = false;
    platform::CONFIGRET StatusResult = 0; // the status query's answer
    platform::DWORD Status = 0;
    platform::DWORD Problem = 0;
};

struct MachineState {
    bool DeviceListOpened = false;
    bool DeviceListCut = false;          // opened, but a device could not be fetched: the walk ended there
    platform::DWORD DeviceListError = 0; // the open's error when it failed, or the fetch's that cut the walk short
    std::vector<PickedAdapter> Adapters;
    // Adapters the walk picked only because its probe could not read their
    // state, whose status, read again, says the user disabled them: the tool
    // passes them over on a read that succeeds, and they are not judged.
    std::vector<PickedAdapter> FoundDisabled;
    // When the whole list was walked and no adapter was picked: the devices
    // that nearly were (see FindNearMisses).
    NearMisses Missed;
    std::vector<JournalEntry> Interrupted; // the deployment's journal: adapters a run may have left disabled
    platform::DWORD JournalError = 0;      // the registry's error when the journal could not be read
    // By entry: false when the adapter is not present now (one without an
    // answer here counts as present).
    std::vector<bool> InterruptedPresent;
    // By entry: true when the adapter is present and its status reads as not
    // disabled: the interrupted run left its restart unfinished (a restart
    // owed, or a disable pending until the next boot), not the adapter off.
    std::vector<bool> InterruptedRunning;
};

// Reads a value of an open key whole, whatever its size: its type and data.
// The registry's status (ERROR_MORE_DATA when the value kept growing).
platform::LSTATUS ReadRegistryValue(platform::HKEY key, const platform::WCHAR* name, platform::DWORD* type,
                                    std::vector<platform::BYTE>* data);

// A driver key below the local machine root, opened for reading only, and
// its WapiSupport read whole: the check's reading and the snapshot's.
struct DriverKeyRead {
    platform::LSTATUS Opened = 0; // the open's status: ERROR_FILE_NOT_FOUND when there is no such key
    platform::LSTATUS Value = 0;  // the value's read, when the key opened: ERROR_FILE_NOT_FOUND when it is absent
    platform::DWORD Type = 0;
    std::vector<platform::BYTE> Data;
};
DriverKeyRead ReadDriverKey(const std::u16string& path);

// Walks the devices as the tool's scan does and, for each adapter it picks,
// reads its driver key's WapiSupport (opening the key for reading only) and
// its status (one whose status then reads disabled by the user goes to
// FoundDisabled); then the deployment's journal, and whether each adapter it
// names is present (when it cannot be told, as if it were). Changes nothing;
// a probe's failure line goes to the platform's output, as in the tool's own
// walk.
MachineState ReadMachineState();

// Reads the adapter's driver key, by its key path, for its WapiSupport:
// fills Setting, ReadError, KeyOpened and the value as it stands.
void ReadSetting(PickedAdapter* adapter);

// Reads the setting and the status of adapters picked before again, by their
// device nodes and key paths: an adapter the tool would no longer pick (one
// left disabled, say) is still looked at.
void ReadAdaptersAgain(std::vector<PickedAdapter>* adapters);

// The adapter's key path, on one line, or its member index where it names no
// key: how the check's line and the deployment's log name it.
std::string Label(const PickedAdapter& adapter);

// True when the adapter's key is as the action leaves it: the setting set for
// Add; for Delete, no setting (a missing key holds none).
bool IsAsWanted(const PickedAdapter& adapter, SettingAction action);

// True when the device reports that it waits for a restart of the computer.
bool NeedsRestart(const PickedAdapter& adapter);

// True when the device is disabled by the user, as the tool's probe says.
bool IsLeftDisabled(const PickedAdapter& adapter);

// A check's verdict, as --check answers it (common/exit_codes.h), and its
// one line.
struct CheckAnswer {
    int ExitCode;
    std::string Line; // without its line end
};

// The answer for a machine: compliant when at least one adapter is picked,
// every one is as wanted and the journal holds no present adapter (one an
// interrupted run left disabled, or whose restart it did not finish);
// unreadable when no adapter is picked but a device that may be one cannot
// be read (the near misses' Unsure), as when the devices cannot be read; the
// line names those adapters first, counts the adapters,
// names the driver keys that are not as wanted (and why), and those whose
// devices wait for a restart of the computer, and last the journal's
// adapters that are not present, whose entries wait for them to be back
// (ReplyInMode makes it one line whatever the names hold). note, when given,
// adds what is known of a key path beyond what was read (why its security
// could not be judged, say).
CheckAnswer JudgeCompliance(const MachineState& state, SettingAction action,
                            const std::function<std::string(const std::u16string& keyPath)>& note = {});
