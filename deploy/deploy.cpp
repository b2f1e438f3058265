#include "deploy/deploy.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <utility>

#include "app/command_dispatch.h"
#include "app/command_line.h"
#include "common/text_format.h"
#include "common/types.h"
#include "common/unicode.h"
#include "deploy/observer.h"
#include "deploy/outcome.h"
#include "deploy/recovery.h"
#include "discovery/device_walk.h"
#include "platform/inspection.h"
#include "preflight/compliance.h"
#include "preflight/journal.h"
#include "preflight/near_misses.h"
#include "setting/driver_setting.h"

#ifndef TESSARY_VERSION
#define TESSARY_VERSION "unknown"
#endif

using namespace platform;

namespace {

void Print(const std::string& text)
{
    WriteStandardOutput(text.data(), text.size());
}

std::string Utf8(const std::u16string& text)
{
    return EscapeControlCharacters(Utf16ToUtf8(text.data(), text.size()));
}

// A driver key's WapiSupport as it stands, so that it can be put back by hand.
std::string SettingAsRead(const PickedAdapter& adapter, DeploySystem* system)
{
    switch (adapter.Setting) {
    case SettingState::Absent:
        return "absent";
    case SettingState::NoKey:
        return "absent (no such key)";
    case SettingState::Unreadable:
        return adapter.KeyPath.empty() ? "unknown (the driver key name is too long to name a key)"
                                       : "unknown (cannot be read: error " + WithText(adapter.ReadError, system) + ")";
    case SettingState::Set:
    case SettingState::Other:
        break;
    }
    // A value far larger than any setting's is shown by its start, so that
    // one entry keeps within the log's bound.
    constexpr std::size_t SHOWN_BYTES = 1024;
    std::size_t shown = std::min(adapter.ValueData.size(), SHOWN_BYTES);
    return RegistryTypeName(adapter.ValueType) + ", " + std::to_string(adapter.ValueData.size()) +
           " bytes: " + HexBytes(adapter.ValueData.data(), shown) +
           (shown < adapter.ValueData.size() ? " ... (the first " + std::to_string(SHOWN_BYTES) + " shown)" : "");
}

// Why no run of the tool can bring the adapter's key to what the action
// wants: the key is missing, or this process may not open it as the tool
// does; "" when a run can.
std::string WhyNoRunCanFix(const PickedAdapter& adapter, DeploySystem* system)
{
    if (adapter.Setting == SettingState::NoKey) {
        return "the key does not exist";
    }
    if (adapter.KeyPath.empty()) {
        return "its driver key name is too long to name a key";
    }
    if (!adapter.KeyOpened) {
        return "the key cannot be opened (error " + WithText(adapter.ReadError, system) + ")";
    }
    BOOL granted = FALSE;
    LSTATUS status = CheckKeyAccess(HKEY_LOCAL_MACHINE, adapter.KeyPath.c_str(), KEY_ALL_ACCESS, &granted);
    if (status == ERROR_SUCCESS && granted == FALSE) {
        return "the key's security does not let this account open it for writing";
    }
    return "";
}

// What the class installer did to a device, from what the observer saw.
struct StatesDone {
    bool Restarted = false; // disabled, and then enabled again
    // Its last disable was carried out with a request for a restart of the
    // computer, or without its install parameters read after it, and no
    // enable followed: a device that still runs may have it pending until
    // the next boot, which would leave it disabled.
    bool DisablePending = false;
    bool LastDisabled = false; // its last state change carried out was a disable
    bool Changed = false;      // a state change of it was carried out (by the recovery too)
};

StatesDone StatesDoneTo(DEVINST devInst)
{
    StatesDone done;
    bool disabled = false;
    for (const observer::StateChange& change : observer::StateChanges()) {
        if (change.DevInst != devInst || !change.Done) {
            continue;
        }
        done.Changed = true;
        if (change.Change == DICS_DISABLE) {
            disabled = true;
            done.DisablePending = change.RestartAsked || !change.ParamsRead;
            done.LastDisabled = true;
        } else if (change.Change == DICS_ENABLE) {
            done.Restarted = done.Restarted || disabled;
            done.DisablePending = false;
            done.LastDisabled = false;
        }
    }
    return done;
}

// Whether the tool asked to disable the device in this run (a disable the
// journal refused, which never reached the class installer, included).
bool DisableAsked(DEVINST devInst)
{
    const std::vector<observer::StateChange>& changes = observer::StateChanges();
    return std::any_of(changes.begin(), changes.end(), [&](const observer::StateChange& change) {
        return change.DevInst == devInst && change.Change == DICS_DISABLE;
    });
}

// An adapter that reads disabled by the user, which the tool never asked to
// disable in this run, is not one the run left so: the tool picked it
// only because its own read of the state failed, or the user disabled it
// meanwhile. It is not the run's to judge.
bool DisabledNotByRun(const PickedAdapter& adapter)
{
    return IsLeftDisabled(adapter) && !DisableAsked(adapter.DevInst);
}

// Whether the class installer answered an enable of the adapter that left it
// reading disabled, or unread.
bool EnableUnconfirmed(const PickedAdapter& adapter)
{
    const std::vector<observer::JournaledRestart>& restarts = observer::JournaledRestarts();
    return std::any_of(restarts.begin(), restarts.end(), [&](const observer::JournaledRestart& restart) {
        return restart.DevInst == adapter.DevInst && restart.Enabled && restart.Kept;
    });
}

// What the tool's run did, for the outcome, from the adapters picked before
// it and read again after it, and from what the observer saw. Only the
// restart of an adapter whose setting waits for it counts: one whose key was
// as wanted before the run, and owed no restart, runs on that setting.
void AddFactsOfRun(const std::vector<PickedAdapter>& adapters, SettingAction action,
                   const std::function<bool(const PickedAdapter&)>& settingWaits, RunFacts* facts)
{
    facts->RestartRequested = observer::RestartRequested();
    facts->RestartUnknown = observer::RestartUnknown();
    for (const PickedAdapter& adapter : adapters) {
        StatesDone done = StatesDoneTo(adapter.DevInst);
        bool unread = adapter.Setting == SettingState::Unreadable;
        facts->KeysNotAsWanted += IsAsWanted(adapter, action) || unread ? 0 : 1;
        facts->KeysUnreadable += unread ? 1 : 0;
        // One whose state cannot be read, with a disable not undone or an
        // enable not seen to take, may be disabled.
        bool disabled =
            IsLeftDisabled(adapter) || (!adapter.StatusKnown && (done.LastDisabled || EnableUnconfirmed(adapter)));
        facts->AdaptersLeftDisabled += disabled ? 1 : 0;
        facts->AdaptersDisablePending += !disabled && done.DisablePending ? 1 : 0;
        // One the run did not restart waits for nothing the run did.
        facts->AdaptersWaitingForRestart += done.Changed && NeedsRestart(adapter) ? 1 : 0;
        facts->StatesUnconfirmed += adapter.StatusKnown ? 0 : 1;
        bool waits = settingWaits(adapter);
        facts->RestartsIncomplete += !done.Restarted && waits ? 1 : 0;
        facts->UnchangedNotRestarted += !done.Restarted && !waits ? 1 : 0;
    }
}

// One deployment run: what it found and did, and its entry in the log.
class Deployment {
public:
    Deployment(SettingAction action, DeploySystem* system, std::string heading)
        : action_(action), system_(system), heading_(std::move(heading))
    {
    }

    // Waits for the one run at a time; false when another run held it, or
    // what holds its name is no deployment's.
    bool Lock()
    {
        std::string problem;
        RunLock lock = system_->LockRun(&problem);
        facts_.Busy = lock == RunLock::Busy;
        facts_.LockUntrusted = lock == RunLock::Untrusted;
        if (lock == RunLock::Busy) {
            Note("another deployment held Global\\Tessary throughout the wait: nothing was done");
        } else if (lock == RunLock::Untrusted) {
            Note("Global\\Tessary is not a deployment's to wait for: " + problem + "; nothing was done");
        } else if (lock == RunLock::Abandoned) {
            Note("the deployment before this one ended without letting Global\\Tessary go: it was interrupted");
        }
        return !facts_.Busy && !facts_.LockUntrusted;
    }

    // Enables again the adapters an interrupted run left behind in the
    // journal; false when the journal cannot be read, and then nothing else
    // may be done.
    bool Recover()
    {
        std::vector<JournalEntry> entries;
        DWORD error = 0;
        if (!ReadJournal(&entries, &error)) {
            facts_.JournalUnreadable = true;
            Note("the journal, HKLM\\SOFTWARE\\Tessary\\Restarting, cannot be read (error " + WithText(error, system_) +
                 "): an adapter an interrupted run left disabled may stay so");
            return false;
        }
        if (entries.empty()) {
            return true;
        }
        observer::Record(true);
        Recovery recovery = RecoverInterruptedRestarts(entries, system_);
        observer::Record(false);
        NoteProgress();
        for (const std::string& line : recovery.Lines) {
            Note(line);
        }
        facts_.Recovered = recovery.Enabled;
        facts_.RecoveryFailed = recovery.Failed;
        facts_.JournalUnwritable = recovery.Uncleared > 0;
        owed_ = recovery.Owed;
        computerOwed_ = recovery.ComputerOwed;
        waiting_ = recovery.Waiting;
        touched_ = recovery.Touched;
        notEnabled_ = recovery.NotEnabled;
        // Once /d has removed the programs, no run is left to enable them
        // when they are back.
        facts_.AwayLeftDisabled = action_ == SettingAction::Delete ? recovery.Away : 0;
        facts_.RestartsOwed = recovery.Owed.size();
        // An enable may ask for a restart of the computer, whether or not
        // the tool runs after it.
        facts_.RestartRequested = observer::RestartRequested();
        facts_.RestartUnknown = observer::RestartUnknown();
        return true;
    }

    // Places the installed programs; false when they could not be, and then
    // nothing else may be done but the recovery before.
    bool PlacePrograms()
    {
        ProgramsDone done;
        std::string problem;
        bool placed = system_->PlacePrograms(&done, &problem);
        facts_.ProgramsPlaced = placed;
        facts_.ProgramsChanged = done.Changed;
        for (const std::string& line : done.Lines) {
            Note("installed program: " + line);
        }
        if (!placed) {
            system_->Warn("tessary-deploy: the installed programs: " + problem);
            Note("the installed programs could not be placed: " + problem);
        }
        return placed;
    }

    // Removes the installed programs after a run that did not fail. After
    // one that did, the setting may still be in force or an adapter left
    // disabled, and the installed check must stay to say so to the
    // management system, as an uninstall that fails leaves a product in
    // place; a /d that succeeds removes them.
    void RemovePrograms()
    {
        if (JudgeOutcome(facts_).Code == DEPLOY_FAILED) {
            Note(facts_.AwayLeftDisabled > 0
                     ? "the installed programs are kept, since the run failed: with them gone, no run would enable "
                       "an adapter an interrupted run left disabled once it is back; a /d that succeeds removes them"
                     : "the installed programs are kept, since the run failed: the installed check still tells of "
                       "this machine, and a /d that succeeds removes them");
            return;
        }
        ProgramsDone done;
        std::string problem;
        facts_.ProgramsRemoved = system_->RemovePrograms(&done, &problem);
        facts_.ProgramsChanged = done.Changed;
        for (const std::string& line : done.Lines) {
            Note("installed program: " + line);
        }
        if (!facts_.ProgramsRemoved) {
            system_->Warn("tessary-deploy: the installed programs: " + problem);
            Note("the installed programs could not be removed: " + problem);
        }
    }

    // Reads the machine, and runs the tool where the setting is not as
    // wanted and a run can change it.
    void Run(int argc, const WCHAR* const* argv)
    {
        MachineState state = ReadMachineState();
        NoteProgress(); // a probe's line of the walk, before what follows from it
        // A walk cut short is as good as none: the adapters past it are unknown.
        facts_.DeviceListOpened = state.DeviceListOpened && !state.DeviceListCut;
        facts_.DeviceListCut = state.DeviceListCut;
        if (!facts_.DeviceListOpened) {
            Note(std::string("the list of present devices cannot be ") +
                 (state.DeviceListCut ? "read to its end" : "opened") + " (error " +
                 WithText(state.DeviceListError, system_) + ")");
        }
        facts_.NoAdapter = state.Adapters.empty();
        facts_.AlreadyAsWanted = !facts_.NoAdapter;
        for (const PickedAdapter& adapter : state.FoundDisabled) {
            Note("not picked: " + Label(adapter) +
                 ": it reads as disabled by the user, though the walk's own read of its state failed");
        }
        std::size_t fixable = 0;
        std::vector<std::string> unfixable;
        for (const PickedAdapter& adapter : state.Adapters) {
            Note("before the run: " + Label(adapter) + ": WapiSupport " + SettingAsRead(adapter, system_));
            bool wanted = IsAsWanted(adapter, action_);
            bool owed = IsOwedARestart(adapter);
            if (owed) {
                Note("restart owed: " + Label(adapter) +
                     ": the interrupted run may have written its key without restarting it, so it is restarted");
            }
            if (!wanted || owed) {
                facts_.AlreadyAsWanted = false;
                std::string why = wanted ? "" : WhyNoRunCanFix(adapter, system_);
                fixable += why.empty() ? 1 : 0;
                if (!why.empty()) {
                    unfixable.push_back(Label(adapter) + ": " + why);
                }
            }
        }
        ForgetOwedNotPicked(state.Adapters);
        if (facts_.DeviceListOpened && facts_.NoAdapter) {
            for (const std::string& miss : state.Missed.Lines) {
                Note("not picked: " + miss);
            }
            facts_.NoAdapterUnsure = !state.Missed.Unsure.empty();
        }
        if (!facts_.DeviceListOpened || facts_.NoAdapter || facts_.AlreadyAsWanted) {
            return;
        }
        if (fixable == 0) {
            facts_.KeysNoRunCanFix = unfixable.size();
            for (const std::string& line : unfixable) {
                Note("no run can change " + line);
            }
            return;
        }
        BeginEntry();
        observer::Record(true);
        if (!RecordAdapters(state.Adapters)) {
            observer::Record(false);
            NoteProgress();
            facts_.JournalUnwritable = true;
            return;
        }
        facts_.Ran = true;
        observer::KeepJournal(true);
        observer::OnUnlistedKey(LogUnlistedKey, this);
        observer::PassOutput(true);
        (void)TessaryMain(argc, argv);
        observer::PassOutput(false);
        observer::OnUnlistedKey(nullptr, nullptr);
        observer::KeepJournal(false);
        observer::Record(false);
        NoteProgress();
        std::vector<PickedAdapter> judged = state.Adapters;
        AddUnlisted(&judged);
        std::vector<PickedAdapter> before = judged;
        ReadAdaptersAgain(&judged);
        for (std::size_t i = 0; i < judged.size(); ++i) {
            // One that cannot be read again may have been written, if the
            // tool could open it to write. One disabled, but not by this
            // run, waits for no restart: its driver reads the key as it
            // starts.
            if (!DisabledNotByRun(judged[i]) && !IsAsWanted(before[i], action_) &&
                (IsAsWanted(judged[i], action_) ||
                 (judged[i].Setting == SettingState::Unreadable && ToolCouldWrite(judged[i])))) {
                keysChanged_.push_back(judged[i]);
            }
        }
        std::vector<PickedAdapter> ours;
        std::copy_if(judged.begin(), judged.end(), std::back_inserter(ours),
                     [](const PickedAdapter& adapter) { return !DisabledNotByRun(adapter); });
        AddFactsOfRun(
            ours, action_, [this](const PickedAdapter& adapter) { return SettingWaitsFor(adapter); }, &facts_);
        FinishJournal(judged);
        // The owed restarts the tool did not reach stay owed to the next run.
        facts_.RestartsStillOwed = keptOwed_;
        facts_.OwedNotAsWanted = 0; // among the adapters judged now
        for (std::size_t i = 0; i < judged.size(); ++i) {
            const PickedAdapter& adapter = judged[i];
            StatesDone done = StatesDoneTo(adapter.DevInst);
            // One that was left disabled, or may be from the next boot, is
            // named as such where its journal entry is kept.
            if (!done.Restarted && !done.DisablePending && adapter.StatusKnown && !IsLeftDisabled(adapter)) {
                Note("not restarted: " + Label(adapter) + ": the class installer did not both disable and enable it" +
                     (SettingWaitsFor(adapter)
                          ? ", so its driver may run on its old setting until the computer restarts"
                      : IsAsWanted(before[i], action_)
                          ? "; its key was as wanted before the run, so its driver runs on that setting"
                          : "; the run did not change its key either"));
            }
            if (done.Restarted && observer::RestartUnknown(adapter.DevInst)) {
                Note("restarted: " + Label(adapter) +
                     ": the class installer disabled and enabled it, but its install parameters could not be read "
                     "after the enable, so whether Windows asked for a restart of the computer is not known, and it "
                     "is taken as asked for");
            }
            if (DisabledNotByRun(adapter)) {
                // The tool writes the key of one whose state its own read
                // could not tell, though it reads disabled now.
                bool written = SettingAsRead(adapter, system_) != SettingAsRead(before[i], system_);
                Note("passed over: " + Label(adapter) + ": it reads as disabled by the user, and this run did not " +
                     (written ? "disable it, though the tool wrote its key, its own read of the adapter's state "
                                "having failed; its driver reads the key when it is enabled"
                              : "disable it"));
            }
            if (adapter.Setting == SettingState::Unreadable) {
                Note("after the run: " + Label(adapter) + ": WapiSupport " + SettingAsRead(adapter, system_));
            }
            if (!adapter.StatusKnown) {
                Note("the state of " + Label(adapter) +
                     " could not be confirmed after the run (CM_Get_DevNode_Status: " +
                     ConfigurationCode(adapter.StatusResult) + "); check the adapter in Device Manager");
            }
        }
    }

    // Settles the entries of adapters whose setting waits for a restart (see
    // SettingWaits) and is not in force: the run did not restart them, or
    // Windows asked for a restart of the computer for them. A run that answers 3010
    // clears them, as that restart puts the setting in force; a run that
    // fails answers 1, which hides it, so they stay owed a restart, which the
    // next run does. Called after the run (or after the recovery, where the
    // programs could not be placed), and again after the programs' removal
    // of /d: where the run fails after some were cleared (a clear that
    // failed, or a removal), they are recorded again.
    void SettleUnrestarted()
    {
        SettleComputerOwed();
        for (const Unrestarted& left : unrestarted_) {
            if (JudgeOutcome(facts_).Code == DEPLOY_FAILED) {
                KeepOwed(left.Entry, !left.Recorded || left.Rewrite);
                continue;
            }
            // One whose disable was carried out to no effect may still have
            // it on record in the SYSTEM hive.
            LSTATUS status = left.Recorded ? Clear(left.Entry.DriverKeyName, left.DisableAsked)
                                           : static_cast<LSTATUS>(ERROR_SUCCESS);
            settled_.push_back(left.Entry); // or what the failed clear left of it
            if (status != ERROR_SUCCESS) {
                facts_.JournalUnwritable = true;
                Note("journal: " + DescribeEntry(left.Entry) + " could not be cleared (error " +
                     WithText(static_cast<DWORD>(status), system_) + ")");
            }
        }
        unrestarted_.clear();
        if (JudgeOutcome(facts_).Code == DEPLOY_FAILED) {
            for (const JournalEntry& entry : settled_) {
                KeepOwed(entry, true);
            }
            settled_.clear();
        }
    }

    // Settles the entries the recovery found owed a restart of the
    // computer, as SettleUnrestarted does the run's own: a run that answers
    // 3010 (as it does for them) clears them; one that fails keeps them, in
    // the form that says so. Where the run's own journal took up the name
    // (the tool restarted the adapter again), what that restart came to
    // settles it instead.
    void SettleComputerOwed()
    {
        for (JournalEntry entry : computerOwed_) {
            const std::vector<observer::JournaledRestart>& restarts = observer::JournaledRestarts();
            auto journaled =
                std::find_if(restarts.begin(), restarts.end(), [&](const observer::JournaledRestart& restart) {
                    return SameIgnoringAsciiCase(restart.Entry.DriverKeyName, entry.DriverKeyName);
                });
            bool ran = journaled != restarts.end();
            // The run restarted it whole, and Windows asked for nothing: in
            // force. Or the run settles its entry itself: its key changed,
            // or it may be disabled.
            if ((ran && StatesDoneTo(journaled->DevInst).Restarted &&
                 !observer::RestartRequested(journaled->DevInst)) ||
                Holds(keptByRun_, entry.DriverKeyName) ||
                std::any_of(unrestarted_.begin(), unrestarted_.end(), [&](const Unrestarted& left) {
                    return SameIgnoringAsciiCase(left.Entry.DriverKeyName, entry.DriverKeyName);
                })) {
                continue;
            }
            // What the run recorded of it (or cleared) takes the form again.
            // One the recovery's enable asked for is among what Windows
            // asked for in this run.
            bool rewrite = ran || !entry.ComputerRestart;
            facts_.ComputerRestartsOwed += entry.ComputerRestart ? 1 : 0;
            entry.KeyOnly = false;
            entry.ComputerRestart = true;
            unrestarted_.push_back({entry, ran && DisableAsked(journaled->DevInst), true, rewrite});
        }
        computerOwed_.clear();
    }

    // Keeps, or records again, the entry of an adapter owed a restart after
    // a run that failed. One owed a restart of the computer names no
    // disable, and may take the place of one that does (its rewrite after
    // the enable having failed): it waits for the enable to be on disk.
    void KeepOwed(const JournalEntry& entry, bool recordAgain)
    {
        std::string name = "journal: " + DescribeEntry(entry);
        LSTATUS status = !recordAgain            ? static_cast<LSTATUS>(ERROR_SUCCESS)
                         : entry.ComputerRestart ? RecordRestartOnceEnabled(entry)
                                                 : RecordRestart(entry);
        if (status != ERROR_SUCCESS) {
            facts_.JournalUnwritable = true;
            Note(name + " could not be recorded again (error " + WithText(static_cast<DWORD>(status), system_) +
                 "): its adapter may run on its old setting until the computer restarts");
            return;
        }
        Note(name + (recordAgain ? " is recorded again" : " is kept") +
             (entry.ComputerRestart ? ": the run failed, so the restart of the computer that Windows asked for, which "
                                      "puts its adapter's setting in force, is owed to the next run's outcome"
                                    : ": the run failed, so the restart its adapter's changed key waits for is owed "
                                      "to the next run"));
    }

    RunFacts& Facts() { return facts_; }

    // The entry: the lines noted, every line printed and each call that
    // failed, in their order, and the outcome.
    std::string Entry(const Outcome& outcome)
    {
        NoteProgress();
        return (begun_ ? "" : heading_) + notes_ + "  outcome " + std::to_string(outcome.Code) + ": " +
               outcome.Meaning + "\n";
    }

    // Whether the log holds the entry's start already.
    bool Begun() const { return begun_; }

    // The line that names this run again where the rest of its entry does
    // not follow its start.
    std::string Resumed() const { return heading_.substr(0, heading_.size() - 1) + " (continued)\n"; }

private:
    void Note(const std::string& line) { notes_ += "  " + line + "\n"; }

    // Writes the entry so far to the log before the run's first change of a
    // driver key, so that a run cut short after it still leaves each key's
    // value before the run on record; the rest follows when the run ends.
    // One that cannot be written now is written whole then.
    void BeginEntry()
    {
        std::string problem;
        if (system_->AppendToLog(heading_ + notes_, "", &problem)) {
            begun_ = true;
            notes_.clear();
        }
    }

    static bool Names(const std::u16string& driverKeyName, const PickedAdapter& adapter)
    {
        TextField path = {};
        return MakeDriverKeyPath(driverKeyName.c_str(), &path) && SameIgnoringAsciiCase(path.Text, adapter.KeyPath);
    }

    // Whether the tool opened the adapter's driver key for writing.
    static bool ToolCouldWrite(const PickedAdapter& adapter)
    {
        const std::vector<observer::JournaledRestart>& restarts = observer::JournaledRestarts();
        return std::any_of(restarts.begin(), restarts.end(), [&](const observer::JournaledRestart& restart) {
            return restart.KeyWritable && Names(restart.Entry.DriverKeyName, adapter);
        });
    }

    // Whether the adapter's setting waits for its restart: the run may have
    // brought its key to what the action wants, or an earlier run did and
    // the recovery found it owed a restart.
    bool SettingWaits(const observer::JournaledRestart& restart) const
    {
        // An entry no disable claimed is matched by its name, to an adapter
        // read running after the run: one whose state is unknown may be one
        // its user disabled, which the next run's recovery would enable.
        return std::any_of(keysChanged_.begin(), keysChanged_.end(),
                           [&](const PickedAdapter& adapter) {
                               return (restart.DevInst != 0 && adapter.DevInst == restart.DevInst) ||
                                      (adapter.StatusKnown && Names(restart.Entry.DriverKeyName, adapter));
                           }) ||
               Owes(restart.Entry.DriverKeyName);
    }

    // The same, of an adapter picked: the run changed its key, or it was
    // owed a restart, of its own or of the computer.
    bool SettingWaitsFor(const PickedAdapter& adapter) const
    {
        return IsOwedARestart(adapter) || NamedIn(computerOwed_, adapter) ||
               std::any_of(keysChanged_.begin(), keysChanged_.end(),
                           [&](const PickedAdapter& changed) { return changed.DevInst == adapter.DevInst; });
    }

    // Whether the recovery left the entry of that driver key name owed a
    // restart.
    bool Owes(const std::u16string& driverKeyName) const { return Holds(owed_, driverKeyName); }

    // Whether the recovery left the entry of that driver key name for a
    // later run: no restart of this run may clear it.
    bool LeftWaiting(const std::u16string& driverKeyName) const { return Holds(waiting_, driverKeyName); }

    // Clears an entry; where its adapter's state may have changed in this
    // run (the recovery enabled it, or changedNow: the class installer was
    // asked to disable it), once the SYSTEM hive that keeps it is on disk.
    // One cleared whose flush failed is noted.
    LSTATUS Clear(const std::u16string& driverKeyName, bool changedNow)
    {
        LSTATUS unflushed = ERROR_SUCCESS;
        LSTATUS status = changedNow || Holds(touched_, driverKeyName)
                             ? ClearRestartOnceEnabled(driverKeyName, &unflushed)
                             : ClearRestart(driverKeyName, &unflushed);
        NoteUnflushed(driverKeyName, status == ERROR_SUCCESS ? unflushed : static_cast<LSTATUS>(ERROR_SUCCESS));
        return status;
    }

    // Writes an entry that names no disable in the place of one that may,
    // as Clear does: where the recovery enabled its adapter, once the SYSTEM
    // hive that keeps that enable is on disk.
    LSTATUS ReplaceNamingNoDisable(const JournalEntry& entry)
    {
        return Holds(touched_, entry.DriverKeyName) ? RecordRestartOnceEnabled(entry) : RecordRestart(entry, true);
    }

    void NoteUnflushed(const std::u16string& driverKeyName, LSTATUS unflushed)
    {
        if (unflushed != ERROR_SUCCESS) {
            Note("journal: the entry of " + Utf8(driverKeyName) + " is cleared" + UnflushedClear(unflushed, system_));
        }
    }

    static bool Holds(const std::vector<JournalEntry>& entries, const std::u16string& driverKeyName)
    {
        return Named(entries, driverKeyName) != nullptr;
    }

    static const JournalEntry* Named(const std::vector<JournalEntry>& entries, const std::u16string& driverKeyName)
    {
        auto entry = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& each) {
            return SameIgnoringAsciiCase(each.DriverKeyName, driverKeyName);
        });
        return entry == entries.end() ? nullptr : &*entry;
    }

    // Whether the recovery found the adapter running under an entry left
    // behind, so that it is owed a restart.
    bool IsOwedARestart(const PickedAdapter& adapter) const { return NamedIn(owed_, adapter); }

    static bool NamedIn(const std::vector<JournalEntry>& entries, const PickedAdapter& adapter)
    {
        return std::any_of(entries.begin(), entries.end(),
                           [&](const JournalEntry& entry) { return Names(entry.DriverKeyName, adapter); });
    }

    static bool NamesAny(const std::u16string& driverKeyName, const std::vector<PickedAdapter>& adapters)
    {
        return std::any_of(adapters.begin(), adapters.end(),
                           [&](const PickedAdapter& adapter) { return Names(driverKeyName, adapter); });
    }

    static void JudgeNow(std::size_t entry, DeviceRef device, SP_DEVINFO_DATA* deviceInfo, void* context)
    {
        (*static_cast<std::vector<PickedNow>*>(context))[entry] = WouldPickNow(device.Set, deviceInfo);
    }

    // Clears the entries of adapters owed a restart that the tool would not
    // pick now, as a fresh read of each shows (no run can restart them), so
    // that the check does not count them against the machine for ever. One
    // that read shows picked, or that cannot be read (its state unreadable
    // for a moment, say), or that is not present, keeps its entry: its
    // restart is owed to the next run. One that reads disabled, though the
    // recovery enabled it, keeps its entry too, and its recovery failed; one
    // whose entry names no disable (the recovery did not enable it) was
    // disabled otherwise, and its entry goes, as no restart waits.
    void ForgetOwedNotPicked(const std::vector<PickedAdapter>& adapters)
    {
        std::vector<JournalEntry> missed;
        for (const JournalEntry& owed : owed_) {
            if (!NamesAny(owed.DriverKeyName, adapters)) {
                missed.push_back(owed);
            }
        }
        if (!facts_.DeviceListOpened || missed.empty()) {
            return;
        }
        std::vector<PickedNow> now(missed.size(), PickedNow::Unknown);
        std::vector<bool> present;
        (void)FindJournalAdapters(missed, JudgeNow, &now, &present);
        for (std::size_t i = 0; i < missed.size(); ++i) {
            std::string entry = "journal: " + DescribeEntry(missed[i]);
            if (now[i] == PickedNow::Disabled && !missed[i].KeyOnly) {
                ++facts_.RecoveryFailed;
                Note(entry + " was enabled by the recovery, but its device reads disabled now: its entry is kept, "
                             "for the next run to enable it");
                continue;
            }
            if (now[i] != PickedNow::No && now[i] != PickedNow::Disabled) {
                // Should the tool's own walk pick it, its entry stays as it
                // is. Only one whose key is as wanted waits for no more than
                // a restart; the key of any other is the run's to change
                // (should the tool run, the outcome judges it with the others).
                const PickedAdapter key = observer::JournaledOwed(missed[i]).Before;
                bool wanted = IsAsWanted(key, action_);
                facts_.RestartsStillOwed += wanted ? 1 : 0;
                facts_.OwedNotAsWanted += wanted ? 0 : 1;
                Note(entry +
                     " is owed a restart, but its adapter was not picked by the walk before the run: its "
                     "entry is kept, for the tool's restart should its own walk pick it, else for the next run's" +
                     (wanted ? std::string() : " (its WapiSupport: " + SettingAsRead(key, system_) + ")"));
                continue;
            }
            LSTATUS cleared = Clear(missed[i].DriverKeyName, false);
            facts_.JournalUnwritable = facts_.JournalUnwritable || cleared != ERROR_SUCCESS;
            Note(entry + " is not an adapter the tool picks now, so no run can restart it: its entry is " +
                 (cleared == ERROR_SUCCESS ? std::string("cleared")
                                           : "kept, as it could not be cleared (error " +
                                                 WithText(static_cast<DWORD>(cleared), system_) + ")"));
        }
    }

    struct Finding {
        DEVINST DevInst = 0;
        DWORD Index = 0;
    };

    static void FoundDevice(std::size_t /*entry*/, DeviceRef device, SP_DEVINFO_DATA* deviceInfo, void* context)
    {
        static_cast<Finding*>(context)->DevInst = deviceInfo->DevInst;
        static_cast<Finding*>(context)->Index = device.Index;
    }

    // Adds the adapters the tool's own walk picked and the deployment's did
    // not (their keys recorded as the tool opened them for writing), each with
    // its key as it stood before, so that the outcome judges, and the journal
    // finishes, every adapter the run touched.
    void AddUnlisted(std::vector<PickedAdapter>* judged)
    {
        for (const observer::JournaledRestart& restart : observer::JournaledRestarts()) {
            if (!restart.Unlisted || std::any_of(judged->begin(), judged->end(), [&](const PickedAdapter& adapter) {
                    return (restart.DevInst != 0 && adapter.DevInst == restart.DevInst) ||
                           (!restart.Before.KeyPath.empty() &&
                            SameIgnoringAsciiCase(adapter.KeyPath, restart.Before.KeyPath));
                })) {
                continue;
            }
            PickedAdapter adapter = restart.Before;
            adapter.DevInst = restart.DevInst;
            if (adapter.DevInst == 0 || adapter.KeyPath.empty()) {
                // Found again: a device with no key path is named by its index,
                // one not found by its entry.
                Finding finding;
                std::vector<bool> present;
                (void)FindJournalAdapters({restart.Entry}, FoundDevice, &finding, &present);
                adapter.DevInst = adapter.DevInst != 0 ? adapter.DevInst : finding.DevInst;
                adapter.Index = finding.Index;
                if (!present[0]) {
                    adapter.Name = DescribeEntry(restart.Entry);
                }
            }
            if (!Holds(keyLogged_, restart.Entry.DriverKeyName)) {
                Note(UnlistedLine(restart, adapter));
            }
            judged->push_back(adapter);
        }
    }

    // The log's line for an adapter the walk before the run did not pick:
    // its key as it stood.
    std::string UnlistedLine(const observer::JournaledRestart& restart, const PickedAdapter& adapter)
    {
        // One whose name could not be read names no key to read.
        std::string setting = restart.Entry.DriverKeyName.empty() ? "unknown" : SettingAsRead(adapter, system_);
        return "before the run: " + Label(adapter) + ": WapiSupport " + setting +
               (restart.Owed ? " (owed a restart, though the walk before the run did not pick it)"
                             : " (an adapter the tool picked that the walk before the run did not)");
    }

    // Puts the key as it stood of an adapter only the tool's walk picked on
    // disk before the tool writes it, as BeginEntry does for the others, so
    // that a run cut short there keeps it on record.
    static void LogUnlistedKey(const observer::JournaledRestart& restart, void* context)
    {
        auto* self = static_cast<Deployment*>(context);
        self->NoteProgress();
        self->Note(self->UnlistedLine(restart, restart.Before));
        self->keyLogged_.push_back(JournalEntry{restart.Entry.DriverKeyName, u""});
        std::string problem;
        if (self->begun_ && self->system_->AppendToLog(self->notes_, self->Resumed(), &problem)) {
            self->notes_.clear();
        }
    }

    struct Recording {
        const std::vector<PickedAdapter>* Adapters;
        std::vector<JournalEntry> Recorded;
        LSTATUS Failure = ERROR_SUCCESS;
        JournalEntry Failed;
    };

    static void RecordAdapter(DeviceRef device, SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* /*buffer*/, void* context)
    {
        auto* recording = static_cast<Recording*>(context);
        auto picked =
            std::find_if(recording->Adapters->begin(), recording->Adapters->end(),
                         [&](const PickedAdapter& adapter) { return adapter.DevInst == deviceInfo->DevInst; });
        if (picked == recording->Adapters->end() || recording->Failure != ERROR_SUCCESS) {
            return;
        }
        JournalEntry entry = JournalEntryOf(device.Set, deviceInfo);
        // Until its disable is asked for, when it is recorded again, the
        // entry names no adapter to enable: one found disabled after a run
        // cut short before then was disabled otherwise (by its user, say, or
        // it was disabled all along, its state unread by the walk), and is
        // left so.
        entry.KeyOnly = true;
        LSTATUS status =
            entry.DriverKeyName.empty() ? static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND) : RecordRestart(entry);
        if (status != ERROR_SUCCESS) {
            recording->Failure = status;
            recording->Failed = entry;
            return;
        }
        recording->Recorded.push_back(entry);
        observer::Journaled(deviceInfo->DevInst, entry);
    }

    // Records every adapter the tool is to edit and restart in the journal,
    // on disk, before the tool writes a key: a run cut short between a key's
    // write and its adapter's restart leaves the entry, and the next run
    // restarts the adapter. When one cannot be recorded, those that were are
    // cleared again, and the tool may not run: false.
    bool RecordAdapters(const std::vector<PickedAdapter>& adapters)
    {
        Recording recording = {&adapters, {}, ERROR_SUCCESS, {}};
        bool walked = WalkPresentDevices(RecordAdapter, &recording) != FALSE;
        DWORD walkError = walked ? ERROR_SUCCESS : GetLastError(); // before the notes' calls change it
        if (walked && recording.Failure == ERROR_SUCCESS) {
            return true;
        }
        // The failed write comes first; clearing again an entry that was
        // never written finds nothing, which is no failure.
        NoteProgress();
        observer::Record(false);
        Note(walked ? "the journal, HKLM\\SOFTWARE\\Tessary\\Restarting, cannot take the entry of " +
                          (recording.Failed.DriverKeyName.empty() ? std::string("an adapter whose driver key name "
                                                                                "cannot be read")
                                                                  : DescribeEntry(recording.Failed)) +
                          " (error " + WithText(static_cast<DWORD>(recording.Failure), system_) + ")" +
                          (static_cast<DWORD>(recording.Failure) == ERROR_MORE_DATA
                               ? ": it holds the " + std::to_string(MAX_JOURNAL_ENTRIES) +
                                     " entries a run reads back, the most it may"
                               : "")
                    : "the list of present devices cannot be opened to record the adapters in the journal (error " +
                          WithText(walkError, system_) + ")");
        // The one that failed may be written without its flush. Entries an
        // interrupted run left, owed a restart or not settled by the
        // recovery, stay for the next run.
        if (!recording.Failed.DriverKeyName.empty()) {
            recording.Recorded.push_back(recording.Failed);
        }
        for (const JournalEntry& entry : recording.Recorded) {
            if (Owes(entry.DriverKeyName) || LeftWaiting(entry.DriverKeyName) ||
                Holds(computerOwed_, entry.DriverKeyName)) {
                continue;
            }
            LSTATUS cleared = Clear(entry.DriverKeyName, false);
            if (cleared != ERROR_SUCCESS) {
                Note("journal: " + DescribeEntry(entry) + " could not be cleared again (error " +
                     WithText(static_cast<DWORD>(cleared), system_) + "): the next run enables and restarts it");
            }
        }
        Note("no adapter may be restarted without its entry: nothing was touched");
        return false;
    }

    // Whether the device, read again after the run, reads running.
    static bool ReadsRunning(const std::vector<PickedAdapter>& adapters, DEVINST devInst)
    {
        return std::any_of(adapters.begin(), adapters.end(), [&](const PickedAdapter& adapter) {
            return adapter.DevInst == devInst && adapter.StatusKnown && !IsLeftDisabled(adapter);
        });
    }

    // Clears the entries of adapters whose disable the class installer did
    // not carry out and that run as they did, and of those whose enable left
    // them disabled or unread but that read enabled after the run; keeps,
    // and names, those that may be disabled now or at the next boot, for the
    // next run to enable. Those whose setting waits for a restart that the
    // run did not do, or that Windows asked for, are left to
    // SettleUnrestarted.
    void FinishJournal(const std::vector<PickedAdapter>& adapters)
    {
        for (const observer::JournaledRestart& restart : observer::JournaledRestarts()) {
            std::string name = "journal: " + DescribeEntry(restart.Entry);
            // An interrupted run's entry that the recovery could not settle
            // stays for a later run, unless this run enabled its adapter.
            bool waits = !restart.Enabled && LeftWaiting(restart.Entry.DriverKeyName);
            if (restart.Recorded != ERROR_SUCCESS) {
                // A value written whose flush failed is not left to name an
                // adapter that was never disabled; the run could not keep
                // its journal. An interrupted run's entry stays, settled or
                // not, and still owed a restart or not, written back as it
                // stood; one whose key the run changed is owed its restart,
                // and its entry takes the place of what the run wrote, as
                // one that names no disable (else SettleUnrestarted records
                // it again as the run fails).
                facts_.JournalUnwritable = true;
                const JournalEntry* earlier = Named(owed_, restart.Entry.DriverKeyName);
                earlier = waits && earlier == nullptr ? Named(waiting_, restart.Entry.DriverKeyName) : earlier;
                bool left = earlier != nullptr;
                bool owed = !left && !restart.Entry.DriverKeyName.empty() && SettingWaits(restart);
                LSTATUS cleared = left ? RecordRestart(*earlier, true)
                                  : restart.Entry.DriverKeyName.empty() || owed
                                      ? static_cast<LSTATUS>(ERROR_SUCCESS)
                                      : Clear(restart.Entry.DriverKeyName, false);
                if (owed) {
                    Unrestarted unrestarted = UnrestartedOf(restart.Entry, false, false);
                    unrestarted.Recorded = ReplaceNamingNoDisable(unrestarted.Entry) == ERROR_SUCCESS;
                    unrestarted_.push_back(unrestarted);
                }
                Note(name + " could not be recorded (error " + WithText(static_cast<DWORD>(restart.Recorded), system_) +
                     "), so its adapter was not disabled" +
                     (cleared != ERROR_SUCCESS ? (left ? "; the entry an interrupted run left of it could not be "
                                                         "written back as it stood (error "
                                                       : "; what was written of it could not be cleared (error ") +
                                                     WithText(static_cast<DWORD>(cleared), system_) + ")"
                      : left ? "; the entry an interrupted run left of it is kept"
                             : ""));
            } else if (restart.Enabled && restart.Kept && !ReadsRunning(adapters, restart.DevInst)) {
                keptByRun_.push_back(restart.Entry);
                Note(name + " is kept: the class installer answered its enable, but " +
                     (restart.StateRead == CR_SUCCESS ? std::string("it read disabled right after it")
                                                      : "its state could not be read right after it (" +
                                                            ConfigurationCode(restart.StateRead) + ")") +
                     "; the next run enables it again");
            } else if (restart.Enabled) {
                // One whose setting waits for the restart of the computer
                // Windows asked for is left to SettleUnrestarted. Any other
                // not cleared after its enable is cleared now: one whose
                // enable left it reading disabled, or unread, and that reads
                // running after the run came up since, or one whose restart
                // was asked for though its setting does not wait for it. One
                // a run that failed left owing the computer's restart keeps
                // its entry too when Windows asks for it again, until this
                // run's answer is known.
                bool restartWaits = (SettingWaits(restart) || Holds(computerOwed_, restart.Entry.DriverKeyName)) &&
                                    observer::RestartRequested(restart.DevInst);
                LSTATUS cleared = restart.ClearTried ? restart.Cleared
                                  : restartWaits     ? static_cast<LSTATUS>(ERROR_SUCCESS)
                                                     : Clear(restart.Entry.DriverKeyName, true);
                if (restart.ClearTried && cleared == ERROR_SUCCESS) {
                    NoteUnflushed(restart.Entry.DriverKeyName, restart.Unflushed);
                }
                if (cleared != ERROR_SUCCESS) {
                    facts_.JournalUnwritable = true;
                    Note(name + " enabled again, but its entry could not be cleared (error " +
                         WithText(static_cast<DWORD>(cleared), system_) + "): the next run enables it once more");
                    continue;
                }
                if (restartWaits) {
                    // Restarted whole, it waits for the computer's restart,
                    // and no restart of it would do instead.
                    unrestarted_.push_back(UnrestartedOf(restart.Entry, true, !restart.ClearTried,
                                                         StatesDoneTo(restart.DevInst).Restarted));
                    if (restart.OwesComputer && restart.OwedRecorded != ERROR_SUCCESS) {
                        Note(name +
                             " could not be written, with the enable before it on disk, as owed the restart of "
                             "the computer (error " +
                             WithText(static_cast<DWORD>(restart.OwedRecorded), system_) +
                             "): should this run be cut short before it answers, the next run may enable its adapter "
                             "once more");
                    }
                }
                if (LeftWaiting(restart.Entry.DriverKeyName)) {
                    // The run's own restart did what the recovery could not,
                    // or enabled one it took for not present.
                    bool failed = Holds(notEnabled_, restart.Entry.DriverKeyName);
                    facts_.RecoveryFailed -= failed ? 1 : 0;
                    facts_.AwayLeftDisabled -= !failed && facts_.AwayLeftDisabled > 0 ? 1 : 0;
                    for (std::vector<JournalEntry>* left : {&waiting_, &notEnabled_}) {
                        left->erase(std::remove_if(left->begin(), left->end(),
                                                   [&](const JournalEntry& entry) {
                                                       return SameIgnoringAsciiCase(entry.DriverKeyName,
                                                                                    restart.Entry.DriverKeyName);
                                                   }),
                                    left->end());
                    }
                    Note(name + (restartWaits ? " no longer waits for its recovery" : " is cleared") +
                         ": the run's restart enabled its adapter, which the recovery had not");
                }
            } else {
                // An adapter the class installer was never asked to disable
                // (the tool did not reach it, or it went away) was not
                // disabled by this run, whatever its state reads; nor was one
                // that runs on after a disable carried out without a request
                // for a restart (its driver ignored it), which no enable undoes.
                bool runs = !DisableAsked(restart.DevInst) || ReadsRunning(adapters, restart.DevInst);
                if (!runs || StatesDoneTo(restart.DevInst).DisablePending) {
                    keptByRun_.push_back(restart.Entry);
                    Note(name + " is kept: its adapter may be disabled, now or from the next boot; the next run of the "
                                "deployment enables it again");
                    continue;
                }
                if (waits) {
                    Note(name + " is kept: it was left by an interrupted run, and the recovery could not settle it");
                    continue;
                }
                if (Owes(restart.Entry.DriverKeyName) && !restart.KeyOpened) {
                    ++keptOwed_;
                    Note(name + " is kept: its adapter is still owed a restart, which the next run does");
                    continue;
                }
                if (Holds(computerOwed_, restart.Entry.DriverKeyName)) {
                    // Still owed the computer's restart: SettleComputerOwed
                    // settles it once the run's answer is known.
                    continue;
                }
                if (SettingWaits(restart) && !StatesDoneTo(restart.DevInst).Restarted) {
                    bool asked = DisableAsked(restart.DevInst);
                    unrestarted_.push_back(UnrestartedOf(restart.Entry, asked, true));
                    // Recorded before the run for a disable that was never
                    // asked for, its entry gives way at once to one that
                    // names none, as a refused disable's does: a later run
                    // leaves the adapter as its user leaves it.
                    LSTATUS replaced = asked || restart.Entry.KeyOnly
                                           ? static_cast<LSTATUS>(ERROR_SUCCESS)
                                           : ReplaceNamingNoDisable(unrestarted_.back().Entry);
                    if (replaced != ERROR_SUCCESS) {
                        facts_.JournalUnwritable = true;
                        Note(name + " could not be recorded as naming no disable (error " +
                             WithText(static_cast<DWORD>(replaced), system_) +
                             "): the next run enables its adapter if it reads disabled");
                    }
                    continue;
                }
                // One whose disable was carried out to no effect may still
                // have it on record in the SYSTEM hive.
                LSTATUS cleared = Clear(restart.Entry.DriverKeyName, DisableAsked(restart.DevInst));
                if (cleared != ERROR_SUCCESS) {
                    facts_.JournalUnwritable = true;
                    Note(name + " could not be cleared (error " + WithText(static_cast<DWORD>(cleared), system_) +
                         "): the next run enables and restarts its adapter once more");
                }
            }
        }
    }

    // Notes the lines printed and the calls that failed since the last time,
    // in the order they came: a failed call, with its code, among the lines
    // of the adapter it was made for.
    void NoteProgress()
    {
        const std::string& lines = observer::Output();
        const std::vector<observer::FailedCall>& calls = observer::FailedCalls();
        while (noted_ < lines.size() || failedNoted_ < calls.size()) {
            if (failedNoted_ < calls.size() && (noted_ >= lines.size() || calls[failedNoted_].OutputAt <= noted_)) {
                const observer::FailedCall& call = calls[failedNoted_++];
                std::string text =
                    call.ConfigurationCode ? ConfigurationCodeName(call.Error) : system_->ErrorText(call.Error);
                Note("failed call: " + std::string(call.Operation) + ": " + HexNumber(call.Error, 8, true) +
                     (text.empty() ? "" : " " + text));
                continue;
            }
            std::size_t end = lines.find('\n', noted_);
            end = end == std::string::npos ? lines.size() : end;
            Note(lines.substr(noted_, end - noted_));
            noted_ = end + 1;
        }
    }

    SettingAction action_;
    DeploySystem* system_;
    std::string heading_; // the entry's first line
    bool begun_ = false;  // the log holds the heading and the notes before notes_
    RunFacts facts_;
    std::string notes_;
    std::size_t noted_ = 0;                  // how much of the output is noted
    std::size_t failedNoted_ = 0;            // how many of the failed calls are noted
    std::vector<JournalEntry> owed_;         // the entries of adapters owed a restart
    std::vector<JournalEntry> computerOwed_; // the entries owed a restart of the computer (Recovery::ComputerOwed)
    std::vector<JournalEntry> keptByRun_;    // the entries the run keeps, as their adapters may be disabled
    std::vector<JournalEntry> waiting_;      // the entries the recovery left for a later run
    std::vector<JournalEntry> touched_;      // the entries of adapters the recovery enabled
    std::vector<JournalEntry> notEnabled_;   // those whose recovery failed, until the run enables them
    // Adapters only the tool's walk picked, whose keys were noted as the
    // tool opened them.
    std::vector<JournalEntry> keyLogged_;
    std::size_t keptOwed_ = 0; // entries owed a restart the tool did not reach, kept
    // Adapters whose key the run brought to what the action wants, or may
    // have; none that reads disabled but not by the run.
    std::vector<PickedAdapter> keysChanged_;
    struct Unrestarted {
        JournalEntry Entry; // KeyOnly unless a disable was asked for its adapter; ComputerRestart when restarted
        bool DisableAsked;
        bool Recorded; // still in the journal; false: cleared after the enable, or not recorded before the disable
        bool Rewrite;  // recorded, but not as Entry says: kept, it is written again
    };
    static Unrestarted UnrestartedOf(JournalEntry entry, bool disableAsked, bool recorded, bool computer = false)
    {
        entry.KeyOnly = !disableAsked && !computer;
        entry.ComputerRestart = computer;
        return {entry, disableAsked, recorded, recorded && computer};
    }
    std::vector<Unrestarted> unrestarted_; // of those, the ones whose setting is not in force, for SettleUnrestarted
    std::vector<JournalEntry> settled_;    // and those SettleUnrestarted cleared
};

} // namespace

std::string WithText(DWORD error, DeploySystem* system)
{
    std::string text = system->ErrorText(error);
    return std::to_string(error) + (text.empty() ? "" : " (" + text + ")");
}

int RunDeploy(int argc, const WCHAR* const* argv, DeploySystem* system)
{
    observer::Reset();
    observer::PassOutput(true);
    std::string heading = system->UtcTime() + " tessary-deploy " + TESSARY_VERSION + " as " + system->UserName() + ":";
    for (int i = 0; i < argc; ++i) {
        heading += " " + Utf8(std::u16string(argv[i]));
    }
    heading += "\n";

    SettingAction action = SettingAction::Add;
    bool known = argc >= 2 && ReadCommand(argv[1], &action) != FALSE;
    Deployment deployment(action, system, heading);
    RunFacts& facts = deployment.Facts();
    facts.Elevated = IsProcessElevated() != FALSE;
    facts.Usage = !known;
    if (!known) {
        Print("Usage: tessary-deploy.exe /a | /d\n"
              "  /a  install the programs, then add WapiSupport where it is not set, as tessary.exe /a does\n"
              "  /d  delete it where it is set, as tessary.exe /d does, then remove the installed programs\n"
              "Exit status: 0 success, 3010 success once the computer restarts, 1 failure, 2 usage,\n"
              "1618 another deployment is running (try again later).\n");
    } else if (facts.Elevated && deployment.Lock()) {
        observer::PassOutput(false); // the check's walk prints only a probe's failure, which is logged
        // An adapter an interrupted run left disabled is enabled again
        // first, whatever else this run may fail to do.
        if (deployment.Recover()) {
            if (action != SettingAction::Add || deployment.PlacePrograms()) {
                deployment.Run(argc, argv);
                if (action == SettingAction::Delete) {
                    deployment.SettleUnrestarted();
                    deployment.RemovePrograms();
                }
            }
            // Also where the programs could not be placed: a restart of the
            // computer the recovery's enable asked for is then owed.
            deployment.SettleUnrestarted();
        }
    }

    Outcome outcome = JudgeOutcome(facts);
    std::string entry = deployment.Entry(outcome);
    observer::PassOutput(true);
    if (known) {
        Print("tessary-deploy: " + std::to_string(outcome.Code) + ", " + outcome.Meaning + "\n");
    }
    // A process that is not elevated may not write the log, and did nothing.
    std::string problem;
    if (facts.Elevated && !system->AppendToLog(entry, deployment.Begun() ? deployment.Resumed() : "", &problem)) {
        system->Warn(
            std::string("tessary-deploy: ") +
            (deployment.Begun() ? "the end of this run's log entry was not written: " : "the log was not written: ") +
            problem);
    }
    return outcome.Code;
}
