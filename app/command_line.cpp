#include "app/command_line.h"

using namespace platform;

// True when argument begins with the two code units of command; stops at the
// argument's terminator, so a shorter argument never matches.
static BOOL MatchesCommand(const WCHAR* argument, const WCHAR command[2])
{
    return argument[0] == command[0] && argument[0] != 0 && argument[1] == command[1];
}

BOOL ReadCommand(const WCHAR* argument, SettingAction* action)
{
    if (argument != nullptr && MatchesCommand(argument, u"/d")) {
        *action = SettingAction::Delete;
        return TRUE;
    }
    if (argument != nullptr && MatchesCommand(argument, u"/a")) {
        *action = SettingAction::Add;
        return TRUE;
    }
    return FALSE;
}
