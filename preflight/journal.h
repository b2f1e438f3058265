// The deployment's journal of the restarts under way. Before the tool edits
// and restarts the adapters, the deployment records each here, flushed to
// disk; it clears an entry once its adapter is enabled again, or ends
// enabled. An entry a run leaves behind names an adapter that an interrupted
// run may have left disabled, across reboots, or whose key it may have
// written without restarting it: the next deployment enables it (and
// restarts it when it was found running), and the check counts it as not
// compliant until then.
//
// It lives in the registry, not in a file: below HKLM\SOFTWARE only
// Administrators and SYSTEM may write, and a key made there takes that
// security; RegFlushKey puts an entry on disk before the key's write; it survives
// a reboot; the pre-flight's snapshot carries it as it carries driver keys;
// and on the simulated platform it is part of the machine file, where a later
// run, and a replay, find it.
#pragma once

#include <string>
#include <vector>

#include "common/types.h"
#include "platform/platform.h"

// The journal's key below the local machine root.
inline constexpr platform::WCHAR JOURNAL_KEY[] = u"SOFTWARE\\Tessary\\Restarting";

// The most entries the journal is read back to, more than any machine has
// adapters: no entry is recorded past them.
inline constexpr platform::DWORD MAX_JOURNAL_ENTRIES = 1000;

// One adapter whose restart was under way: a value named by its driver key
// name, holding its device instance ID. A REG_SZ one names an adapter the
// class installer may have been asked to disable; a REG_MULTI_SZ one (KeyOnly)
// one whose key the run may have written before any disable was asked for it,
// as the tool opened it, say: the run did not disable it, so it is owed a
// restart only while it runs, as its driver reads its key when it starts.
//
// A REG_MULTI_SZ one whose second text is "restart" (ComputerRestart) names an
// adapter a run had restarted whole, after which Windows asked for a restart
// of the computer: written so as the adapter runs again, the entry stays
// should that run fail (its exit 1 hides the 3010) or be cut short, so the
// restart of the computer is owed, and the next run that does not fail
// answers 3010 for it. Its adapter is not restarted for it, as a restart
// of the adapter would only ask for the computer's again.
struct JournalEntry {
    std::u16string DriverKeyName;
    std::u16string InstanceId;
    bool KeyOnly = false;
    bool ComputerRestart = false;
};

// Reads the entries left, in the order they stand. A journal that was never
// made holds none. False, with the registry's error, when the key is there
// but cannot be read, or holds more entries than are read (ERROR_MORE_DATA:
// the one past them would go unseen).
bool ReadJournal(std::vector<JournalEntry>* entries, platform::DWORD* error);

// Records an entry and flushes it to disk before it answers; the registry's
// status. A new entry past the most a run reads back is refused
// (ERROR_MORE_DATA). A KeyOnly one leaves any entry of that name as it
// stands, and only flushes it: that one may name an adapter an interrupted
// run left disabled. With replacing (an entry this run wrote for a disable
// that was never carried out), a KeyOnly one takes its place.
platform::LSTATUS RecordRestart(const JournalEntry& entry, bool replacing = false);

// An entry's value as the journal keeps it: its type, and its text without
// the terminator the registry keeps after it (a list's holds the one after
// each text but its last).
platform::DWORD JournalValueOf(const JournalEntry& entry, std::u16string* text);

// Clears an entry; one that is not there counts as cleared. The status. An
// entry deleted whose flush to disk then failed is cleared all the same:
// the registry answers without it from then on, and only a power loss
// before Windows writes the hive brings it back. That flush's status goes to
// unflushed (ERROR_SUCCESS when it was flushed).
platform::LSTATUS ClearRestart(const std::u16string& driverKeyName, platform::LSTATUS* unflushed);

// Clears the entry of an adapter whose state was changed (enabled again, or
// disabled to no effect). Whether a device is disabled is kept in the SYSTEM
// hive, the journal in SOFTWARE, and each reaches the disk on its own: the
// SYSTEM hive is written to disk first, else a power loss could keep a
// disable and lose both the enable after it and the entry that would undo
// it. When that write fails, the entry stays, and the status says why.
platform::LSTATUS ClearRestartOnceEnabled(const std::u16string& driverKeyName, platform::LSTATUS* unflushed);

// Writes again, in the place of an entry that names a disable, the entry of
// an adapter enabled since, which names none (KeyOnly or ComputerRestart).
// As for ClearRestartOnceEnabled, the SYSTEM hive that keeps the enable is
// written to disk first: else a power loss could keep the disable and the
// entry that no longer undoes it. When that write fails, the entry stays as
// it stands, and the status says why.
platform::LSTATUS RecordRestartOnceEnabled(const JournalEntry& entry);

// "{4d36e972-...}\0001 (PCI\VEN_...)", for a line.
std::string DescribeEntry(const JournalEntry& entry);

// A device's instance ID, read whole; empty when it cannot be read.
std::u16string ReadInstanceId(platform::HDEVINFO set, platform::SP_DEVINFO_DATA* deviceInfo);

// The entry of a device of an open set: its driver key name and instance ID
// as the platform gives them now, read whole; an empty name when the driver
// key name cannot be read.
JournalEntry JournalEntryOf(platform::HDEVINFO set, platform::SP_DEVINFO_DATA* deviceInfo);

// What FindJournalAdapters calls for a present device that an entry names:
// the entry's index, the device (the walk's set and its member index) and its
// record.
using JournalAdapterVisitor = void (*)(std::size_t entry, DeviceRef device, platform::SP_DEVINFO_DATA* deviceInfo,
                                       void* context);

// What a search for the journal's adapters came to.
enum class JournalSearch {
    Done,
    NoDeviceList, // the list of present devices cannot be opened (the platform's last error is the open's)
    // Some entry was not found, and a device's driver key name could not be
    // read, or the walk was cut short: it may be there.
    DeviceUnreadable,
};

// Walks the present devices once and finds the adapters the entries name, by
// driver key name, compared as the registry compares names, and by instance
// ID where the entry holds one and the device's can be read (a name freed by
// a removed device may be another device's since); calls found, when
// given, for the first device each entry names. present[i] tells whether
// entry i's adapter was found; only with Done is one not found absent. With
// taken, taken[i] tells whether entry i's name is a present device's of
// another instance ID: a driver key belongs to one installed device, so the
// device the entry named was removed since.
JournalSearch FindJournalAdapters(const std::vector<JournalEntry>& entries, JournalAdapterVisitor found, void* context,
                                  std::vector<bool>* present, std::vector<bool>* taken = nullptr);
