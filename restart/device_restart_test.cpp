#include "restart/device_restart.h"

#include <gtest/gtest.h>

#include "tests/support/calls.h"
#include "tests/support/machines.h"

using namespace platform;
using simulator::Operation;
using testsupport::CallsOf;
using testsupport::CallSummary;
using testsupport::InstallDevices;
using testsupport::NetDevice;

namespace {

constexpr DWORD CLASS_INSTALLER_FAILED = 0xE0000219; // ERROR_DI_DO_DEFAULT

DeviceRef OpenFirstDevice()
{
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    return DeviceRef{set, 0};
}

simulator::Fault FailingCall(simulator::Operation call, DWORD error, std::int64_t stateChange = -1,
                             std::uint64_t nth = 0)
{
    simulator::Fault fault = testsupport::Failing(call, error);
    fault.StateChange = stateChange;
    fault.Nth = nth;
    return fault;
}

simulator::Device Reacting(simulator::Reaction reaction)
{
    simulator::Device device = NetDevice("Corvane Wireless");
    device.OnStateChange = reaction;
    return device;
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

TEST(DisableEnableDevice, RefusesDevicesItMustNotTouch)
{
    struct Case {
        const char* name;
        DWORD status;
        DWORD problem;
    } cases[] = {
        {"not disableable", simulator::DEFAULT_STATUS & ~DN_DISABLEABLE, 0},
        {"hardware disabled without the problem flag", simulator::DEFAULT_STATUS, CM_PROB_HARDWARE_DISABLED},
        {"hardware disabled", simulator::DEFAULT_STATUS | DN_HAS_PROBLEM, CM_PROB_HARDWARE_DISABLED},
        {"already disabled", simulator::DEFAULT_STATUS | DN_HAS_PROBLEM, CM_PROB_DISABLED},
    };
    for (const Case& c : cases) {
        simulator::Device device = NetDevice("Corvane Wireless");
        device.Status = c.status;
        device.Problem = c.problem;
        InstallDevices({device});
        EXPECT_FALSE(DisableEnableDevice(OpenFirstDevice())) << c.name;
        EXPECT_TRUE(CallsOf("SetupDiSetClassInstallParamsW").empty()) << c.name;
        EXPECT_EQ(simulator::Output(), "") << c.name;
    }
}

TEST(DisableEnableDevice, StopsWithoutEnablingWhenTheDeviceDidNotDisable)
{
    // A failed disabling is no failure of the restart when the device stays enabled.
    InstallDevices({NetDevice("Corvane Wireless")},
                   {FailingCall(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED)});
    EXPECT_TRUE(DisableEnableDevice(OpenFirstDevice()));
    EXPECT_EQ(simulator::Output(), "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n");
    EXPECT_TRUE(CallsOf("SetupDiGetDeviceInstallParamsW").empty());
}

TEST(DisableEnableDevice, AsksForARestartRightAfterEachChangeThatWantsOne)
{
    // A driver that will not stop asks for a reboot and runs on with the
    // disable pending; the enabling cancels it. A device that runs on without
    // asking was not disabled: nothing to undo.
    const std::string restart = "Output \"Need Restart Computer\\x0a\"";
    const std::vector<std::string> both = {
        "SetupDiCallClassInstaller stateChange=2", "SetupDiGetDeviceInstallParamsW", restart,
        "SetupDiCallClassInstaller stateChange=1", "SetupDiGetDeviceInstallParamsW", restart};
    struct Case {
        simulator::Reaction reaction;
        std::vector<std::string> tail;
    } cases[] = {
        {simulator::Reaction::NeedRestart, both},
        {simulator::Reaction::NeedReboot, both},
        {simulator::Reaction::Vetoed, both},
        {simulator::Reaction::Ignore, {"SetupDiCallClassInstaller stateChange=2", "SetupDiGetDeviceInstallParamsW"}},
    };
    for (const Case& c : cases) {
        InstallDevices({Reacting(c.reaction)});
        EXPECT_TRUE(DisableEnableDevice(OpenFirstDevice()));
        EXPECT_EQ(
            CallSummary({"stateChange"}, {"SetupDiCallClassInstaller", "Output", "SetupDiGetDeviceInstallParamsW"}),
            c.tail);
        EXPECT_FALSE(simulator::Current().Devices[0].PendingDisable);
    }
}

TEST(DisableEnableDevice, AnswersFalseWhenTheAdapterMayBeLeftDisabled)
{
    const std::string classInstaller = "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n";
    struct Case {
        simulator::Device device;
        simulator::Fault fault;
        std::string output;
        std::size_t calls;
    } cases[] = {
        // The device cannot be fetched again after a successful disabling,
        {NetDevice("Corvane Wireless"), FailingCall(Operation::SetupDiEnumDeviceInfo, 259, -1, 5),
         "SetupDiEnumDeviceInfo FAILED\n", 1},
        // nor its status read;
        {NetDevice("Corvane Wireless"), FailingCall(Operation::CM_Get_DevNode_Status, 0xD, -1, 3),
         "CM_GET_DevNode_Status FAILED\n", 1},
        // the enabling's class installer fails,
        {NetDevice("Corvane Wireless"), FailingCall(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED, 1),
         classInstaller, 2},
        // also where the disable waits for the next boot.
        {Reacting(simulator::Reaction::Vetoed),
         FailingCall(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED, 1),
         "Need Restart Computer\n" + classInstaller, 2},
    };
    for (const Case& c : cases) {
        InstallDevices({c.device}, {c.fault});
        EXPECT_FALSE(DisableEnableDevice(OpenFirstDevice())) << c.output;
        EXPECT_EQ(simulator::Output(), c.output);
        EXPECT_EQ(CallsOf("SetupDiCallClassInstaller").size(), c.calls) << c.output;
        const simulator::Device& after = simulator::Current().Devices[0];
        EXPECT_TRUE(after.Problem == CM_PROB_DISABLED || after.PendingDisable) << c.output;
    }
}

TEST(SetDeviceState, ReportsEachBreakOffWithItsLine)
{
    struct Case {
        simulator::Fault fault;
        BOOL answer;
        const char* output;
    } cases[] = {
        {FailingCall(Operation::SetupDiEnumDeviceInfo, 259), FALSE, "SetupDiEnumDeviceInfo FAILED\n"},
        {FailingCall(Operation::SetupDiSetClassInstallParamsW, 87), FALSE, "SetupDiSetClassInstallParams FAILED\n"},
        {FailingCall(Operation::SetupDiGetDeviceInstallParamsW, 87), FALSE, "SetupDiGetDeviceInstallParams FAILED\n"},
        {FailingCall(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED), TRUE,
         "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n"},
    };
    for (const Case& c : cases) {
        InstallDevices({NetDevice("Corvane Wireless")}, {c.fault});
        EXPECT_EQ(SetDeviceState(DICS_DISABLE, OpenFirstDevice()), c.answer) << simulator::KindOf(c.fault.Call).Name;
        EXPECT_EQ(simulator::Output(), c.output) << simulator::KindOf(c.fault.Call).Name;
    }
}

} // namespace
