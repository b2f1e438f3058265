#include "deploy/deploy.h"

#include <cstdio>

#include "app/command_dispatch.h"
#include "common/types.h"
#include "common/unicode.h"
#include "deploy/observer.h"
#include "deploy/outcome.h"
#include "platform/inspection.h"
#include "preflight/compliance.h"

#ifndef TESSARY_VERSION
#define TESSARY_VERSION "unknown"
#endif

using namespace platform;

namespace {

void Print(const std::string& text)
{
    WriteStandardOutput(text.data(), text.size());
}

std::string Utf8(const WCHAR* text)
{
    return Utf16ToUtf8(text, std::char_traits<WCHAR>::length(text));
}

// The action of a command line, as tessary.exe reads it; false for none.
bool ActionOf(int argc, const WCHAR* const* argv, SettingAction* action)
{
    if (argc < 2 || argv[1][0] != u'/' || argv[1][1] == 0) {
        return false;
    }
    *action = argv[1][1] == u'a' ? SettingAction::Add : SettingAction::Delete;
    return argv[1][1] == u'a' || argv[1][1] == u'd';
}

// A configuration manager's code, by name where it is a common one.
std::string ConfigurationCodeName(DWORD code)
{
    switch (code) {
    case 0x03:
        return "CR_INVALID_POINTER";
    case 0x05:
        return "CR_INVALID_DEVNODE";
    case 0x0D:
        return "CR_NO_SUCH_DEVNODE";
    case 0x13:
        return "CR_FAILURE";
    case 0x25:
        return "CR_NO_SUCH_VALUE";
    case 0x33:
        return "CR_ACCESS_DENIED";
    default:
        return "a Configuration Manager code";
    }
}

std::string Hex(DWORD code)
{
    char text[16];
    (void)std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(code));
    return text;
}

// What the tool's run did, for the outcome, from the adapters picked before
// it and read again after it, and from what the observer saw.
RunFacts FactsOfRun(const std::vector<PickedAdapter>& adapters, SettingAction action)
{
    RunFacts facts;
    facts.RestartRequested = observer::RestartRequested();
    for (const PickedAdapter& adapter : adapters) {
        facts.KeysNotAsWanted += IsAsWanted(adapter, action) ? 0 : 1;
        facts.AdaptersLeftDisabled += IsLeftDisabled(adapter) ? 1 : 0;
        facts.AdaptersWaitingForRestart += NeedsRestart(adapter) ? 1 : 0;
        facts.StatesUnconfirmed += adapter.StatusKnown ? 0 : 1;
        // Restarted: disabled and then enabled again by the class installer.
        bool disabled = false;
        bool enabled = false;
        for (const observer::StateChange& change : observer::StateChanges()) {
            if (change.DevInst == adapter.DevInst && change.Done) {
                disabled = disabled || change.Change == DICS_DISABLE;
                enabled = enabled || (disabled && change.Change == DICS_ENABLE);
            }
        }
        facts.RestartsIncomplete += enabled ? 0 : 1;
    }
    return facts;
}

} // namespace

int RunDeploy(int argc, const WCHAR* const* argv, DeploySystem* system)
{
    observer::Reset();
    observer::PassOutput(true);
    SettingAction action = SettingAction::Add;
    if (!ActionOf(argc, argv, &action)) {
        Print("Usage: tessary-deploy.exe /a | /d\n"
              "  /a  add WapiSupport where it is not set, as tessary.exe /a does, and install the check\n"
              "  /d  delete it where it is set, as tessary.exe /d does, and remove the installed check\n"
              "Exit status: 0 success, 3010 success once the computer restarts, 1 failure, 2 usage.\n");
        return DEPLOY_USAGE;
    }
    std::string entry = system->UtcTime() + " tessary-deploy " + TESSARY_VERSION + " as " + system->UserName() + ":";
    for (int i = 0; i < argc; ++i) {
        entry += " " + Utf8(argv[i]);
    }
    entry += "\n";

    observer::PassOutput(false); // the check's walk prints only a probe's failure, which is logged
    RunFacts facts;
    facts.Elevated = IsProcessElevated() != FALSE;
    if (facts.Elevated) {
        MachineState state = ReadMachineState();
        facts.DeviceListOpened = state.DeviceListOpened;
        facts.NoAdapter = state.Adapters.empty();
        facts.AlreadyAsWanted = !facts.NoAdapter;
        for (const PickedAdapter& adapter : state.Adapters) {
            facts.AlreadyAsWanted = facts.AlreadyAsWanted && IsAsWanted(adapter, action);
        }
        if (facts.DeviceListOpened && !facts.NoAdapter && !facts.AlreadyAsWanted) {
            observer::Record(true);
            observer::PassOutput(true);
            (void)TessaryMain(argc, argv);
            observer::PassOutput(false);
            observer::Record(false);
            ReadAdaptersAgain(&state.Adapters);
            facts = FactsOfRun(state.Adapters, action);
            for (const PickedAdapter& adapter : state.Adapters) {
                if (!adapter.StatusKnown) {
                    entry += "  the state of " + Utf8(adapter.KeyPath.c_str()) +
                             " could not be confirmed after the run (CM_Get_DevNode_Status: " +
                             ConfigurationCodeName(adapter.StatusResult) + ", " + Hex(adapter.StatusResult) +
                             "); check the adapter in Device Manager\n";
                }
            }
        }
        std::string problem;
        facts.CheckInstalled = system->InstallCheck(action == SettingAction::Add, &problem);
        if (!facts.CheckInstalled) {
            system->Warn("tessary-deploy: the installed check: " + problem);
            entry += "  the installed check: " + problem + "\n";
        }
    }

    // Every line the tool printed, then each call that failed while it ran.
    const std::string& lines = observer::Output();
    for (std::size_t start = 0; start < lines.size();) {
        std::size_t end = lines.find('\n', start);
        end = end == std::string::npos ? lines.size() : end;
        entry += "  " + lines.substr(start, end - start) + "\n";
        start = end + 1;
    }
    for (const observer::FailedCall& call : observer::FailedCalls()) {
        std::string text = call.ConfigurationCode ? ConfigurationCodeName(call.Error) : system->ErrorText(call.Error);
        entry += "  failed call: " + std::string(call.Operation) + ": " + Hex(call.Error) +
                 (text.empty() ? "" : " " + text) + "\n";
    }
    Outcome outcome = JudgeOutcome(facts);
    entry += "  outcome " + std::to_string(outcome.Code) + ": " + outcome.Meaning + "\n";

    observer::PassOutput(true);
    Print("tessary-deploy: " + std::to_string(outcome.Code) + ", " + outcome.Meaning + "\n");
    // A process that is not elevated may not write the log, and did nothing.
    std::string problem;
    if (facts.Elevated && !system->AppendToLog(entry, &problem)) {
        system->Warn("tessary-deploy: the log was not written: " + problem);
    }
    return outcome.Code;
}
