#include "app/command_dispatch.h"

#include "common/message_output.h"
#include "common/types.h"
#include "discovery/adapter_scan.h"

using namespace platform;

// True when argument begins with the two code units of command; stops at the
// argument's terminator, so a shorter argument never matches.
static BOOL MatchesCommand(const WCHAR* argument, const WCHAR command[2])
{
    return argument[0] == command[0] && argument[0] != 0 && argument[1] == command[1];
}

int TessaryMain(int argc, const WCHAR* const* argv)
{
    PrintMessage("Tessary Tool...\n");
    const WCHAR* command = argc >= 2 && argv != nullptr ? argv[1] : nullptr;
    if (command != nullptr && MatchesCommand(command, u"/d")) {
        PrintMessage("Command: Delete %ws\n", SETTING_NAME);
        ScanWirelessAdapters(SettingAction::Delete);
    } else if (command != nullptr && MatchesCommand(command, u"/a")) {
        PrintMessage("Command: Add %ws\n", SETTING_NAME);
        ScanWirelessAdapters(SettingAction::Add);
    } else {
        PrintMessage("Please use /a or /d argument\n");
    }
    return 0;
}
