// Reading a command line the tool's way, for the tool and the programs around
// it alike.
#pragma once

#include "common/types.h"

// True, with the action, when the argument begins with "/d" (Delete) or "/a"
// (Add), judged on its first two code units, case-sensitively; the
// comparison stops at the argument's terminator, so a shorter argument never
// matches. False for any other argument and for none (null).
platform::BOOL ReadCommand(const platform::WCHAR* argument, SettingAction* action);
