#include "setting/driver_setting.h"

#include <gtest/gtest.h>

#include "tests/support/calls.h"
#include "tests/support/machines.h"

using namespace platform;
using testsupport::CallsOf;
using testsupport::CallSummary;

namespace {

const std::string DRIVER = "{4d36e972-e325-11ce-bfc1-08002be10318}\\0007";
const std::string KEY_LINE = std::string("Full Driver Key=") + testsupport::CLASS_KEY_PREFIX + DRIVER + "\n";

// A machine whose registry holds the driver key with the given values.
void InstallKey(std::vector<std::pair<std::u16string, simulator::Value>> values = {}, bool denyFullAccess = false,
                std::vector<simulator::Fault> faults = {})
{
    simulator::Machine machine;
    simulator::Key key = testsupport::DriverKey(DRIVER);
    key.Values = std::move(values);
    key.DenyFullAccess = denyFullAccess;
    machine.Registry.push_back(key);
    machine.Faults = std::move(faults);
    simulator::Install(machine);
}

void Update(SettingAction action, const std::string& driver = DRIVER)
{
    UpdateDriverSetting(action, simulator::Utf8ToUtf16(driver).c_str());
}

TEST(UpdateDriverSetting, AddWritesTheTwoBytesOfTextOneOverAnyOldValue)
{
    simulator::Value old{4, {7, 0, 0, 0}}; // a REG_DWORD of the same name, in other letter case
    InstallKey({{u"DriverDesc", simulator::Value{REG_SZ, {'x', 0, 0, 0}}}, {u"wapisupport", old}});
    Update(SettingAction::Add);

    // The key opened for writing, the value set by its name, the key closed:
    // nothing else. What is written shows in the value stored.
    EXPECT_EQ(simulator::Output(), KEY_LINE);
    std::vector<std::string> calls = CallSummary({"root", "options", "access", "name"});
    ASSERT_FALSE(calls.empty());
    calls[0] = calls[0].substr(0, calls[0].find(' ')); // the key's line, as above
    EXPECT_EQ(calls, (std::vector<std::string>{"Output", "RegOpenKeyExW root=HKLM options=0 access=0xf003f",
                                               "RegSetValueExW name=\"WapiSupport\"", "RegCloseKey"}));
    const auto& values = simulator::Current().Registry[0].Values;
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1].second, (simulator::Value{REG_SZ, {0x31, 0x00}}));
    EXPECT_TRUE(simulator::OpenResources().empty());
}

TEST(UpdateDriverSetting, ReportsEachFailureAndAlwaysClosesAnOpenedKey)
{
    const std::string openError = "ERROR: Open registry error!!\n";
    const std::string missingKey = KEY_LINE.substr(0, KEY_LINE.size() - 1) + "9\n";
    const simulator::Fault refused = testsupport::Failing(simulator::Operation::RegSetValueExW, 5);
    const std::string deleteFailed = "ERROR: Delete parameter WapiSupport failed!!\n";
    const SettingAction add = SettingAction::Add;
    struct Case {
        const char* name;
        SettingAction action;
        std::string driver;
        bool denyFullAccess;
        std::vector<simulator::Fault> faults;
        std::string output;
        std::size_t closes;
    } cases[] = {
        {"add refused", add, DRIVER, false, {refused}, KEY_LINE + "ERROR: Add parameter WapiSupport failed!!\n", 1},
        {"no value to delete", SettingAction::Delete, DRIVER, false, {}, KEY_LINE + deleteFailed, 1},
        {"missing key", add, DRIVER + "9", false, {}, missingKey + openError, 0},
        {"no full access", add, DRIVER, true, {}, KEY_LINE + openError, 0},
        {"another action", static_cast<SettingAction>(7), DRIVER, false, {}, KEY_LINE, 1},
        // 39 code units of prefix leave 220 for the name in a 259-unit path:
        // one longer is refused before any key is opened.
        {"the longest name",
         add,
         std::string(220, 'k'),
         false,
         {},
         std::string("Full Driver Key=") + testsupport::CLASS_KEY_PREFIX + std::string(220, 'k') + "\n" + openError,
         0},
        {"a name too long", add, std::string(221, 'k'), false, {}, "ERROR: Driver key name too long!!\n", 0},
    };
    for (const Case& c : cases) {
        InstallKey({}, c.denyFullAccess, c.faults);
        Update(c.action, c.driver);
        EXPECT_EQ(simulator::Output(), c.output) << c.name;
        EXPECT_EQ(CallsOf("RegCloseKey").size(), c.closes) << c.name;
        EXPECT_TRUE(simulator::OpenResources().empty()) << c.name;
        EXPECT_TRUE(simulator::Current().Registry[0].Values.empty()) << c.name;
    }
}

} // namespace
