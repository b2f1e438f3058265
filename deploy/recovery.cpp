#include "deploy/recovery.h"

#include "common/text_format.h"
#include "common/unicode.h"
#include "deploy/observer.h"
#include "discovery/device_probes.h"
#include "restart/device_restart.h"

using namespace platform;

namespace {

constexpr char OWES_COMPUTER_RESTART[] =
    "restarted then, it waits for the restart of the computer Windows asked for, which that run did not answer for: "
    "this run answers 3010 for it, unless the tool's own restart of the adapter puts its setting in force, and adds "
    "no restart of the adapter for it";

// The device's state as the log tells it, for an entry that may name a
// disable (one that names none has none pending); disabled tells whether it
// is, and read whether that could be read.
std::string StateOf(DEVINST devInst, bool disableNamed, bool* disabled, bool* read)
{
    CONFIGRET result = ReadDisabled(devInst, disabled);
    *read = result == CR_SUCCESS;
    if (result != CR_SUCCESS) {
        return "its state cannot be read (" + ConfigurationCode(result) + ")";
    }
    return *disabled      ? "disabled"
           : disableNamed ? "running, maybe with a disable pending until the next boot"
                          : "running";
}

// Whether the class installer carried out an enable of the device since the
// observer's notes had count state changes.
bool EnabledSince(DEVINST devInst, std::size_t count)
{
    const std::vector<observer::StateChange>& changes = observer::StateChanges();
    for (std::size_t i = count; i < changes.size(); ++i) {
        if (changes[i].DevInst == devInst && changes[i].Change == DICS_ENABLE && changes[i].Done) {
            return true;
        }
    }
    return false;
}

std::string Cleared(const JournalEntry& entry, DeploySystem* system, Recovery* result)
{
    LSTATUS unflushed = ERROR_SUCCESS;
    LSTATUS status = ClearRestartOnceEnabled(entry.DriverKeyName, &unflushed);
    result->Uncleared += status == ERROR_SUCCESS ? 0 : 1;
    return status == ERROR_SUCCESS
               ? "its entry is cleared" + UnflushedClear(unflushed, system)
               : "its entry could not be cleared (error " + WithText(static_cast<DWORD>(status), system) + ")";
}

} // namespace

std::string UnflushedClear(LSTATUS unflushed, DeploySystem* system)
{
    return unflushed == ERROR_SUCCESS
               ? ""
               : ", though the registry could not be flushed to disk after it (error " +
                     WithText(static_cast<DWORD>(unflushed), system) +
                     "): should the computer lose power before Windows writes it, the next run enables its adapter "
                     "once more";
}

namespace {

// Writes again the entry of an adapter the recovery enabled, as naming no
// disable (the enable cancelled any), once the enable is on disk; where that
// fails (the enable's flush to disk, the write, or its own flush), says so
// for its line.
bool NamingNoDisable(const JournalEntry& entry, DeploySystem* system, std::string* unwritten)
{
    LSTATUS rewritten = RecordRestartOnceEnabled(entry);
    *unwritten = rewritten == ERROR_SUCCESS
                     ? ""
                     : " (it could not be written again, with the enable before it on disk, as naming no disable "
                       "(error " +
                           WithText(static_cast<DWORD>(rewritten), system) +
                           "): should it read disabled before then, a run may enable it)";
    return rewritten == ERROR_SUCCESS;
}

struct Recovering {
    const std::vector<JournalEntry>* Entries;
    DeploySystem* System;
    Recovery Result;
};

// Enables again a present adapter an entry names.
void RecoverAdapter(std::size_t index, DeviceRef device, SP_DEVINFO_DATA* deviceInfo, void* context)
{
    auto* recovering = static_cast<Recovering*>(context);
    const JournalEntry& entry = (*recovering->Entries)[index];
    std::string name = "recovery: " + DescribeEntry(entry) + ", left by an interrupted run: ";
    if (entry.ComputerRestart) {
        recovering->Result.ComputerOwed.push_back(entry);
        recovering->Result.Lines.push_back("recovery: " + DescribeEntry(entry) +
                                           ", left by a run that failed or was cut short: " + OWES_COMPUTER_RESTART);
        return;
    }
    bool disabled = false;
    bool read = false;
    std::string state = StateOf(deviceInfo->DevInst, !entry.KeyOnly, &disabled, &read);
    if (entry.KeyOnly) {
        // The run had not asked the class installer to disable it, so there
        // is nothing to enable. One disabled otherwise (by its user, say) is
        // left so: its driver reads its key as it starts again, so it waits
        // for no restart either. Any other may run on its old setting.
        std::string noDisable = name + state + ", though that run had not asked to disable it: ";
        if (read && disabled) {
            recovering->Result.Lines.push_back(noDisable + "left so, " +
                                               Cleared(entry, recovering->System, &recovering->Result));
        } else {
            recovering->Result.Owed.push_back(entry);
            recovering->Result.Lines.push_back(noDisable + "its entry kept until the run has restarted it");
        }
        return;
    }
    std::size_t before = observer::StateChanges().size();
    recovering->Result.Touched.push_back(entry);
    (void)SetDeviceState(DICS_ENABLE, device);
    bool enabled = EnabledSince(deviceInfo->DevInst, before);
    // The class installer may answer for an enable that leaves the device
    // disabled (its driver's own installer ignoring it, say): the device must
    // read enabled after it, or its entry stays.
    bool now = false;
    CONFIGRET reread = enabled ? ReadDisabled(deviceInfo->DevInst, &now) : CR_SUCCESS;
    bool confirmed = enabled && reread == CR_SUCCESS && !now;
    std::string after = "; the class installer did not enable it";
    if (enabled && reread != CR_SUCCESS) {
        after = "; the class installer answered the enable, but its state cannot be read now (" +
                ConfigurationCode(reread) + ")";
    } else if (enabled) {
        after = disabled ? "; the class installer answered the enable, but it still reads disabled"
                         : "; the class installer answered the enable, but it reads disabled now";
    }
    if (confirmed && !disabled) {
        // Its entry stays until the run's own restart of it clears it: a run
        // cut short before then leaves the restart owed to the next. The
        // enable cancelled any disable pending, so the entry names none from
        // now on: one found disabled later was disabled otherwise.
        JournalEntry owed = entry;
        owed.KeyOnly = true;
        std::string unwritten;
        recovering->Result.Owed.push_back(NamingNoDisable(owed, recovering->System, &unwritten) ? owed : entry);
        recovering->Result.Lines.push_back(name + state + "; enabled, its entry kept until the run has restarted it" +
                                           unwritten);
    } else if (confirmed && observer::RestartRequested(deviceInfo->DevInst)) {
        // Its setting is in force once the computer restarts: the entry
        // stays until the run's 3010 answers for that, written as owed that
        // restart in case the run is cut short before it answers.
        ++recovering->Result.Enabled;
        recovering->Result.ComputerOwed.push_back(entry);
        JournalEntry owed = entry;
        owed.ComputerRestart = true;
        std::string unwritten;
        (void)NamingNoDisable(owed, recovering->System, &unwritten);
        recovering->Result.Lines.push_back(
            name + state +
            (observer::RestartUnknown(deviceInfo->DevInst)
                 ? "; enabled again, but its install parameters could not be read after it, so a restart of the "
                   "computer Windows may have asked for is taken as asked for, and its entry stays until this run's "
                   "outcome is known"
                 : "; enabled again, and Windows asked for a restart of the computer, so its entry stays until this "
                   "run's outcome is known") +
            unwritten);
    } else if (confirmed) {
        ++recovering->Result.Enabled;
        recovering->Result.Lines.push_back(name + state + "; enabled again, " +
                                           Cleared(entry, recovering->System, &recovering->Result));
    } else {
        ++recovering->Result.Failed;
        recovering->Result.Waiting.push_back(entry);
        recovering->Result.NotEnabled.push_back(entry);
        recovering->Result.Lines.push_back(name + state + after + ", so its entry is kept");
    }
}

} // namespace

Recovery RecoverInterruptedRestarts(const std::vector<JournalEntry>& entries, DeploySystem* system)
{
    Recovering recovering = {&entries, system, {}};
    std::vector<bool> present;
    std::vector<bool> taken;
    JournalSearch search = FindJournalAdapters(entries, RecoverAdapter, &recovering, &present, &taken);
    if (search == JournalSearch::NoDeviceList) {
        recovering.Result.Failed = entries.size();
        recovering.Result.Waiting = entries;
        recovering.Result.NotEnabled = entries;
        recovering.Result.Lines.push_back("recovery: the list of present devices cannot be opened (error " +
                                          WithText(GetLastError(), system) + "); the journal is kept");
        return recovering.Result;
    }
    // A device disabled in the hardware profile stays so while it is
    // unplugged, and comes back disabled: its entry waits for it. Where a
    // device could not be read, it may be one of them, and its recovery
    // failed.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!present[i] && taken[i]) {
            // Its device was removed, and one plugged in again is installed
            // afresh, enabled: the entry names nothing any run could enable.
            recovering.Result.Lines.push_back(
                "recovery: " + DescribeEntry(entries[i]) +
                ", left by an interrupted run: its driver key name is another device's now, so the device it "
                "named was removed (and comes back enabled); " +
                Cleared(entries[i], system, &recovering.Result));
            continue;
        }
        if (!present[i] && search == JournalSearch::Done && (entries[i].KeyOnly || entries[i].ComputerRestart)) {
            // The run had not asked to disable it, or restarted it whole, and
            // its driver reads its key as it starts when it is back.
            recovering.Result.Lines.push_back(
                "recovery: " + DescribeEntry(entries[i]) +
                (entries[i].KeyOnly ? ", left by an interrupted run that had not asked to disable it"
                                    : ", left by a run that failed or was cut short, owed a restart of the computer") +
                ": not present now, and it reads its key as it starts when it is back; " +
                Cleared(entries[i], system, &recovering.Result));
            continue;
        }
        if (!present[i] && entries[i].ComputerRestart) {
            recovering.Result.ComputerOwed.push_back(entries[i]);
            recovering.Result.Lines.push_back(
                "recovery: " + DescribeEntry(entries[i]) +
                ", left by a run that failed or was cut short: not found, but not every device could be "
                "read; " +
                OWES_COMPUTER_RESTART);
            continue;
        }
        if (!present[i] && entries[i].KeyOnly) {
            // Not found, but it may be there, running on its old setting;
            // with no disable to undo, its restart is owed, as for one found
            // running.
            recovering.Result.Owed.push_back(entries[i]);
            recovering.Result.Lines.push_back(
                "recovery: " + DescribeEntry(entries[i]) +
                ", left by an interrupted run that had not asked to disable it: not found, but not every device "
                "could be read, so it may be present; its entry kept until the run has restarted it");
            continue;
        }
        if (!present[i]) {
            recovering.Result.Waiting.push_back(entries[i]);
        }
        if (!present[i] && search == JournalSearch::DeviceUnreadable) {
            ++recovering.Result.Failed;
            recovering.Result.NotEnabled.push_back(entries[i]);
            recovering.Result.Lines.push_back("recovery: " + DescribeEntry(entries[i]) +
                                              ", left by an interrupted run: not found, but not every device could "
                                              "be read, so it may be present; its entry is kept");
        } else if (!present[i]) {
            ++recovering.Result.Away;
            recovering.Result.Lines.push_back("recovery: " + DescribeEntry(entries[i]) +
                                              ", left by an interrupted run: not present now, so its entry is kept "
                                              "for the run after it is back");
        }
    }
    return recovering.Result;
}
