#include "app/command_dispatch.h"

#include <gtest/gtest.h>

#include "tests/support/calls.h"
#include "tests/support/machines.h"

using testsupport::CallsOf;

namespace {

const std::string BANNER = "Tessary Tool...\n";
const std::string USAGE = "Please use /a or /d argument\n";
const std::string ADD = "Command: Add WapiSupport\n";
const std::string DELETE = "Command: Delete WapiSupport\n";

TEST(TessaryMain, ChoosesTheActionFromTheFirstTwoCodeUnits)
{
    struct Case {
        std::vector<std::u16string> arguments;
        std::string command;
    } cases[] = {
        {{}, USAGE},
        {{u"/a"}, ADD},
        {{u"/add"}, ADD},
        {{u"/abc"}, ADD},
        {{u"/a:x"}, ADD},
        {{u"/d"}, DELETE},
        {{u"/delete"}, DELETE},
        {{u"/dx"}, DELETE},
        {{u"/a", u"/d"}, ADD},
        {{u"/d", u"/a"}, DELETE},
        {{u"/A"}, USAGE},
        {{u"/D"}, USAGE},
        {{u"-a"}, USAGE},
        {{u"a"}, USAGE},
        {{u"/"}, USAGE},
        {{u""}, USAGE},
        {{u"x", u"/a"}, USAGE},
        {{u"\uFF0Fa"}, USAGE}, // a full-width solidus
    };
    for (const Case& c : cases) {
        testsupport::InstallDevices({});
        std::vector<const platform::WCHAR*> argv = {u"tessary"};
        for (const std::u16string& argument : c.arguments) {
            argv.push_back(argument.c_str());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(TessaryMain(static_cast<int>(argv.size() - 1), argv.data()), 0);
        EXPECT_EQ(simulator::Output(), BANNER + c.command);
        // The scan runs once for a command, never for the usage line.
        EXPECT_EQ(CallsOf("SetupDiGetClassDevsW").size(), c.command == USAGE ? 0u : 1u);
    }
}

} // namespace
