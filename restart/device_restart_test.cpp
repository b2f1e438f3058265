#include "restart/device_restart.h"

#include <gtest/gtest.h>

#include "tests/support/calls.h"
#include "tests/support/machines.h"

using namespace platform;
using simulator::Operation;
using testsupport::CallSummary;
using testsupport::Failing;
using testsupport::InstallDevices;
using testsupport::NetDevice;

namespace {

constexpr DWORD CLASS_INSTALLER_FAILED = 0xE0000219; // ERROR_DI_DO_DEFAULT

DeviceRef OpenFirstDevice()
{
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    return DeviceRef{set, 0};
}

TEST(DisableEnableDevice, DisablesThenEnablesEachAfterTwoStores)
{
    InstallDevices({NetDevice("Corvane Wireless")});
    EXPECT_TRUE(DisableEnableDevice(OpenFirstDevice()));

    // Each record passed with its own size, each parameter block with its header's.
    const std::string fetch = "SetupDiEnumDeviceInfo cbSize=" + std::to_string(sizeof(SP_DEVINFO_DATA));
    const std::string result =
        "SetupDiGetDeviceInstallParamsW cbSize=" + std::to_string(sizeof(SP_DEVINSTALL_PARAMS_W));
    auto store = [](const char* change, const char* scope) {
        return std::string("SetupDiSetClassInstallParamsW stateChange=") + change + " scope=" + scope +
               " profile=0 size=20 function=0x12 header=8";
    };
    std::vector<std::string> expected = {
        "SetupDiGetClassDevsW",
        fetch,
        "CM_Get_DevNode_Status", // may it be disabled?
        fetch,
        "CM_Get_DevNode_Status", // is it disabled?
        fetch,
        store("2", "1"),
        store("2", "2"),
        "SetupDiCallClassInstaller stateChange=2 scope=2 function=0x12",
        result,
        fetch,
        "CM_Get_DevNode_Status", // disabled now?
        fetch,
        store("1", "1"),
        store("1", "2"),
        "SetupDiCallClassInstaller stateChange=1 scope=2 function=0x12",
        result,
    };
    EXPECT_EQ(CallSummary({"stateChange", "scope", "profile", "size", "function", "header", "cbSize"}), expected);
    EXPECT_EQ(simulator::Current().Devices[0].Problem, 0u);
    EXPECT_EQ(simulator::Output(), "");
}

TEST(DisableEnableDevice, AnswersWhetherTheAdapterIsLeftRunningAndPrintsEachBreakOff)
{
    // The class installer's steps, the install parameters read after each,
    // and the lines printed, in order (none for a device it refuses); then
    // whether the adapter may be left disabled or runs.
    auto printed = [](const std::string& line) { return "Output \"" + line + "\\x0a\""; };
    const std::string disable = "SetupDiCallClassInstaller stateChange=2";
    const std::string enable = "SetupDiCallClassInstaller stateChange=1";
    const std::string result = "SetupDiGetDeviceInstallParamsW";
    const std::string restart = printed("Need Restart Computer");
    const std::string refused = printed("SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED");
    const std::vector<std::string> both = {disable, result, restart, enable, result, restart};
    const simulator::Fault disabling = Failing(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED, 0, 2);
    const simulator::Fault enabling = Failing(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED, 0, 1);
    const simulator::Fault noFetch = Failing(Operation::SetupDiEnumDeviceInfo, 259, 3);
    const simulator::Fault noStore = Failing(Operation::SetupDiSetClassInstallParamsW, 87);
    const simulator::Fault noResult = Failing(Operation::SetupDiGetDeviceInstallParamsW, 87);
    const simulator::Fault noFetchAgain = Failing(Operation::SetupDiEnumDeviceInfo, 259, 5);
    const simulator::Fault noStatus = Failing(Operation::CM_Get_DevNode_Status, 0xD, 3);
    const std::string notFetched = printed("SetupDiEnumDeviceInfo FAILED");
    const DWORD on = simulator::DEFAULT_STATUS;
    using R = simulator::Reaction;
    struct Case {
        const char* name;
        std::vector<simulator::Fault> faults;
        BOOL answer;
        std::vector<std::string> calls;
        bool leftDisabled;
        R reaction = R::Adapter;
        DWORD status = simulator::DEFAULT_STATUS;
        DWORD problem = 0;
    } cases[] = {
        // Devices it must not touch: one that may not be disabled, or is
        // disabled already, in hardware or by the user.
        {"not disableable", {}, FALSE, {}, false, R::Adapter, on & ~DN_DISABLEABLE},
        {"hardware disabled, no problem flag", {}, FALSE, {}, false, R::Adapter, on, CM_PROB_HARDWARE_DISABLED},
        {"hardware disabled", {}, FALSE, {}, false, R::Adapter, on | DN_HAS_PROBLEM, CM_PROB_HARDWARE_DISABLED},
        {"already disabled", {}, FALSE, {}, true, R::Adapter, on | DN_HAS_PROBLEM, CM_PROB_DISABLED},
        // A driver that will not stop asks for a reboot and runs on with the
        // disable pending; the enabling cancels it.
        {"needs a restart", {}, TRUE, both, false, R::NeedRestart},
        {"vetoed", {}, TRUE, both, false, R::Vetoed},
        // A device that runs on without asking was not disabled: nothing to
        // undo. Nor is a failed disabling a failure while the device runs.
        {"ignored", {}, TRUE, {disable, result}, false, R::Ignore},
        {"disabling refused", {disabling}, TRUE, {disable, refused}, false},
        // Each break-off of the disabling before the class installer,
        {"not fetched", {noFetch}, FALSE, {notFetched}, false},
        {"not stored", {noStore}, FALSE, {printed("SetupDiSetClassInstallParams FAILED")}, false},
        // and after it, where the adapter may be left disabled: its install
        // parameters not read, the device not fetched again, nor its status
        // read, the enabling's class installer failing, also where the
        // disable waits for the next boot.
        {"no result", {noResult}, FALSE, {disable, result, printed("SetupDiGetDeviceInstallParams FAILED")}, true},
        {"not fetched again", {noFetchAgain}, FALSE, {disable, result, notFetched}, true},
        {"no status", {noStatus}, FALSE, {disable, result, printed("CM_GET_DevNode_Status FAILED")}, true},
        {"enabling refused", {enabling}, FALSE, {disable, result, enable, refused}, true},
        {"enabling refused, pending", {enabling}, FALSE, {disable, result, restart, enable, refused}, true, R::Vetoed},
    };
    for (const Case& c : cases) {
        simulator::Device device = NetDevice("Corvane Wireless");
        device.OnStateChange = c.reaction;
        device.Status = c.status;
        device.Problem = c.problem;
        InstallDevices({device}, c.faults);
        EXPECT_EQ(DisableEnableDevice(OpenFirstDevice()), c.answer) << c.name;
        EXPECT_EQ(
            CallSummary({"stateChange"}, {"SetupDiCallClassInstaller", "Output", "SetupDiGetDeviceInstallParamsW"}),
            c.calls)
            << c.name;
        const simulator::Device& after = simulator::Current().Devices[0];
        EXPECT_EQ(after.Problem == CM_PROB_DISABLED || after.PendingDisable, c.leftDisabled) << c.name;
    }
}

} // namespace
