#include "app/command_dispatch.h"

#include "app/command_line.h"
#include "common/message_output.h"
#include "common/types.h"
#include "discovery/adapter_scan.h"

using namespace platform;

int TessaryMain(int argc, const WCHAR* const* argv)
{
    PrintMessage("Tessary Tool...\n");
    SettingAction action = SettingAction::Add;
    if (!ReadCommand(argc >= 2 && argv != nullptr ? argv[1] : nullptr, &action)) {
        PrintMessage("Please use /a or /d argument\n");
        return 0;
    }
    if (action == SettingAction::Delete) {
        PrintMessage("Command: Delete %ws\n", SETTING_NAME);
    } else {
        PrintMessage("Command: Add %ws\n", SETTING_NAME);
    }
    ScanWirelessAdapters(action);
    return 0;
}
