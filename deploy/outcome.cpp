#include "deploy/outcome.h"

#include <vector>

namespace {

std::string Adapters(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " adapter" : " adapters");
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string joined;
    for (const std::string& part : parts) {
        joined += (joined.empty() ? "" : ", ") + part;
    }
    return joined;
}

} // namespace

Outcome JudgeOutcome(const RunFacts& facts)
{
    if (facts.Usage) {
        return {DEPLOY_USAGE, "usage: the command is not /a or /d. Nothing was done."};
    }
    if (!facts.Elevated) {
        return {DEPLOY_FAILED, "failed: not elevated; run it as SYSTEM or as an administrator. Nothing was changed."};
    }
    if (!facts.ProgramsPlaced) {
        return {DEPLOY_FAILED, "failed: the installed programs could not be placed (see the log). Nothing was "
                               "changed."};
    }
    if (!facts.DeviceListOpened) {
        return {DEPLOY_FAILED, "failed: the list of present devices cannot be opened. Nothing was changed."};
    }
    if (facts.KeysNoRunCanFix > 0) {
        return {DEPLOY_FAILED, "failed: " + Adapters(facts.KeysNoRunCanFix) +
                                   " with the driver key not as wanted, which no run can change (see the log). "
                                   "Nothing was changed."};
    }
    std::vector<std::string> failures;
    if (facts.KeysNotAsWanted > 0) {
        failures.push_back(Adapters(facts.KeysNotAsWanted) + " with the driver key not as wanted");
    }
    if (facts.AdaptersLeftDisabled > 0) {
        failures.push_back(Adapters(facts.AdaptersLeftDisabled) + " left disabled");
    }
    if (!facts.ProgramsRemoved) {
        failures.push_back("the installed programs not removed");
    }
    if (!failures.empty()) {
        return {DEPLOY_FAILED, "failed: " + Joined(failures) + "."};
    }
    if (facts.NoAdapter) {
        return {DEPLOY_SUCCESS, "success: no adapter to act on. Nothing was changed."};
    }
    if (facts.AlreadyAsWanted) {
        return {DEPLOY_SUCCESS, "success: every adapter was already as wanted. Nothing was changed."};
    }
    std::vector<std::string> reasons;
    if (facts.RestartRequested) {
        reasons.push_back("Windows asked for it");
    }
    if (facts.RestartsIncomplete > 0) {
        reasons.push_back(Adapters(facts.RestartsIncomplete) + " not restarted");
    }
    if (facts.AdaptersWaitingForRestart > 0) {
        reasons.push_back(Adapters(facts.AdaptersWaitingForRestart) + " waiting for it");
    }
    if (facts.StatesUnconfirmed > 0) {
        reasons.push_back(Adapters(facts.StatesUnconfirmed) + " whose state could not be confirmed");
    }
    if (!reasons.empty()) {
        return {DEPLOY_RESTART_NEEDED, "restart needed: every adapter's driver key is as wanted, in force after a "
                                       "restart of the computer (" +
                                           Joined(reasons) + ")."};
    }
    return {DEPLOY_SUCCESS, "success: every adapter's driver key is as wanted, and every adapter was restarted."};
}
