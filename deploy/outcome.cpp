#include "deploy/outcome.h"

#include <vector>

#include "common/text_format.h"

namespace {

std::string Joined(const std::vector<std::string>& parts)
{
    std::string joined;
    for (const std::string& part : parts) {
        joined += (joined.empty() ? "" : ", ") + part;
    }
    return joined;
}

// What went wrong, each a phrase; none when nothing did.
std::vector<std::string> Failures(const RunFacts& facts)
{
    std::vector<std::string> failures;
    if (!facts.ProgramsPlaced) {
        failures.push_back("the installed programs could not be placed (see the log)");
    }
    if (facts.JournalUnreadable) {
        failures.push_back("the journal of restarts under way cannot be read (see the log)");
    }
    if (facts.RecoveryFailed > 0) {
        failures.push_back(CountOf(facts.RecoveryFailed, "adapter") +
                           " left disabled by an interrupted run not enabled again");
    }
    if (facts.AwayLeftDisabled > 0) {
        failures.push_back(CountOf(facts.AwayLeftDisabled, "adapter") +
                           " left disabled by an interrupted run not present now, for a /d after it is back to "
                           "enable");
    }
    if (!facts.DeviceListOpened) {
        failures.push_back(facts.DeviceListCut ? "the list of present devices cannot be read to its end"
                                               : "the list of present devices cannot be opened");
    }
    if (facts.NoAdapterUnsure) {
        failures.push_back("no adapter was picked, but a device that may be one could not be read (see the log)");
    }
    if (facts.JournalUnwritable) {
        failures.push_back("the journal of restarts under way cannot be kept (see the log)");
    }
    if (facts.KeysNoRunCanFix > 0) {
        failures.push_back(CountOf(facts.KeysNoRunCanFix, "adapter") +
                           " with the driver key not as wanted or not readable, which no run can change (see the "
                           "log)");
    }
    if (facts.KeysNotAsWanted > 0) {
        failures.push_back(CountOf(facts.KeysNotAsWanted, "adapter") + " with the driver key not as wanted");
    }
    if (facts.OwedNotAsWanted > 0) {
        failures.push_back(CountOf(facts.OwedNotAsWanted, "adapter") +
                           " owed a restart, with the driver key not as wanted or not readable, that the run did "
                           "not pick (see the log)");
    }
    if (facts.KeysUnreadable > 0) {
        failures.push_back(CountOf(facts.KeysUnreadable, "adapter") +
                           " whose driver key cannot be read after the run (see the log)");
    }
    if (facts.AdaptersLeftDisabled > 0) {
        failures.push_back(CountOf(facts.AdaptersLeftDisabled, "adapter") + " left disabled");
    }
    if (facts.AdaptersDisablePending > 0) {
        failures.push_back(CountOf(facts.AdaptersDisablePending, "adapter") +
                           " running with a disable not undone, which may take effect at the next boot");
    }
    if (!facts.ProgramsRemoved) {
        failures.push_back("the installed programs not removed");
    }
    return failures;
}

} // namespace

Outcome JudgeOutcome(const RunFacts& facts)
{
    if (facts.Usage) {
        return {USAGE, "usage: the command is not /a or /d. Nothing was done."};
    }
    if (!facts.Elevated) {
        return {DEPLOY_FAILED, "failed: not elevated; run it as SYSTEM or as an administrator. Nothing was changed."};
    }
    if (facts.Busy) {
        return {DEPLOY_BUSY, "busy: another deployment is running (it holds Global\\Tessary). Nothing was done; try "
                             "again later."};
    }
    if (facts.LockUntrusted) {
        return {DEPLOY_FAILED, "failed: Global\\Tessary is taken by an object no deployment made or may open (see "
                               "the log). Nothing was done."};
    }
    // What the recovery of an interrupted run did comes first: a machine it
    // mended was not left as it was.
    std::string recovered = facts.Recovered == 0 ? ""
                                                 : CountOf(facts.Recovered, "adapter") +
                                                       " left disabled by an interrupted run enabled again; ";
    std::string unchanged = facts.Ran || facts.Recovered > 0 || facts.RestartsOwed > 0 ? ""
                            : facts.ProgramsChanged ? " Only the installed programs were changed."
                                                    : " Nothing was changed.";
    std::vector<std::string> failures = Failures(facts);
    if (!failures.empty()) {
        return {DEPLOY_FAILED, "failed: " + recovered + Joined(failures) + "." + unchanged};
    }
    std::vector<std::string> reasons;
    if (facts.RestartRequested) {
        reasons.push_back("Windows asked for it");
    }
    if (facts.RestartUnknown) {
        reasons.push_back("whether Windows asked for it after an enable could not be read");
    }
    if (facts.RestartsStillOwed > 0) {
        reasons.push_back(CountOf(facts.RestartsStillOwed, "adapter") + " still owed a restart");
    }
    if (facts.ComputerRestartsOwed > 0) {
        reasons.push_back(CountOf(facts.ComputerRestartsOwed, "adapter") +
                          " waiting for it since a run that failed or was cut short");
    }
    if (facts.RestartsIncomplete > 0) {
        reasons.push_back(CountOf(facts.RestartsIncomplete, "adapter") + " not restarted");
    }
    if (facts.AdaptersWaitingForRestart > 0) {
        reasons.push_back(CountOf(facts.AdaptersWaitingForRestart, "adapter") + " waiting for it");
    }
    if (facts.StatesUnconfirmed > 0) {
        reasons.push_back(CountOf(facts.StatesUnconfirmed, "adapter") + " whose state could not be confirmed");
    }
    if (reasons.empty() && facts.NoAdapter) {
        return {DEPLOY_SUCCESS, "success: " + recovered + "no adapter to act on." + unchanged};
    }
    if (reasons.empty() && facts.AlreadyAsWanted) {
        return {DEPLOY_SUCCESS, "success: " + recovered + "every adapter was already as wanted." + unchanged};
    }
    if (!reasons.empty()) {
        return {DEPLOY_RESTART_NEEDED, "restart needed: " + recovered +
                                           "every adapter's driver key is as wanted, in force after a restart of "
                                           "the computer (" +
                                           Joined(reasons) + ")." + unchanged};
    }
    return {DEPLOY_SUCCESS, "success: " + recovered + "every adapter's driver key is as wanted, and every adapter " +
                                (facts.UnchangedNotRestarted > 0 ? "whose key the run changed " : "") +
                                "was restarted."};
}
