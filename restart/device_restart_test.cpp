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

simulator::Fault FailingCall(simulator::Operation call, DWORD error, std::int64_t stateChange = -1)
{
    simulator::Fault fault;
    fault.Call = call;
    fault.Error = error;
    fault.StateChange = stateChange;
    return fault;
}

TEST(DisableEnableDevice, DisablesThenEnablesEachAfterTwoStores)
{
    InstallDevices({NetDevice("Corvane Wireless")});
    EXPECT_TRUE(DisableEnableDevice(OpenFirstDevice()));

    std::vector<std::string> expected = {
        "SetupDiGetClassDevsW",
        "SetupDiEnumDeviceInfo",
        "CM_Get_DevNode_Status", // may it be disabled?
        "SetupDiEnumDeviceInfo",
        "CM_Get_DevNode_Status", // is it disabled?
        "SetupDiEnumDeviceInfo",
        "SetupDiSetClassInstallParamsW stateChange=2 scope=1 profile=0 size=20 function=0x12",
        "SetupDiSetClassInstallParamsW stateChange=2 scope=2 profile=0 size=20 function=0x12",
        "SetupDiCallClassInstaller stateChange=2 scope=2 function=0x12",
        "SetupDiGetDeviceInstallParamsW",
        "SetupDiEnumDeviceInfo",
        "CM_Get_DevNode_Status", // disabled now?
        "SetupDiEnumDeviceInfo",
        "SetupDiSetClassInstallParamsW stateChange=1 scope=1 profile=0 size=20 function=0x12",
        "SetupDiSetClassInstallParamsW stateChange=1 scope=2 profile=0 size=20 function=0x12",
        "SetupDiCallClassInstaller stateChange=1 scope=2 function=0x12",
        "SetupDiGetDeviceInstallParamsW",
    };
    EXPECT_EQ(CallSummary({"stateChange", "scope", "profile", "size", "function"}), expected);
    for (const simulator::Call& call : CallsOf("SetupDiSetClassInstallParamsW")) {
        EXPECT_EQ(call.Argument("header"), "8");
    }
    for (const simulator::Call& call : CallsOf("SetupDiEnumDeviceInfo")) {
        EXPECT_EQ(call.Argument("cbSize"), std::to_string(sizeof(SP_DEVINFO_DATA)));
    }
    EXPECT_EQ(CallsOf("SetupDiGetDeviceInstallParamsW")[0].Argument("cbSize"),
              std::to_string(sizeof(SP_DEVINSTALL_PARAMS_W)));
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

TEST(DisableEnableDevice, CancelsADisableThatWaitsForTheNextBoot)
{
    // The driver will not stop: the disabling asks for a reboot and the device
    // runs on with the disable pending. The enabling cancels it.
    simulator::Device vetoed = NetDevice("Corvane Wireless");
    vetoed.OnStateChange = simulator::Reaction::Vetoed;
    InstallDevices({vetoed});
    EXPECT_TRUE(DisableEnableDevice(OpenFirstDevice()));
    std::vector<std::string> tail;
    for (const std::string& line : CallSummary({"stateChange"})) {
        if (line.rfind("SetupDiCallClassInstaller", 0) == 0 || line.rfind("Output", 0) == 0 ||
            line.rfind("SetupDiGetDeviceInstallParamsW", 0) == 0) {
            tail.push_back(line);
        }
    }
    std::vector<std::string> expected = {
        "SetupDiCallClassInstaller stateChange=2", "SetupDiGetDeviceInstallParamsW",
        "Output \"Need Restart Computer\\x0a\"",   "SetupDiCallClassInstaller stateChange=1",
        "SetupDiGetDeviceInstallParamsW",          "Output \"Need Restart Computer\\x0a\""};
    EXPECT_EQ(tail, expected);
    EXPECT_FALSE(simulator::Current().Devices[0].PendingDisable);

    // Its enabling's class installer fails: the adapter goes off at the next
    // boot, which the answer must not hide.
    InstallDevices({vetoed}, {FailingCall(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED, DICS_ENABLE)});
    EXPECT_FALSE(DisableEnableDevice(OpenFirstDevice()));
    EXPECT_EQ(simulator::Output(), "Need Restart Computer\n"
                                   "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n");
    EXPECT_TRUE(simulator::Current().Devices[0].PendingDisable);

    // Without the request for a restart, a device that runs on was not
    // disabled: nothing to undo, and no call is added.
    simulator::Device ignoring = NetDevice("Corvane Wireless");
    ignoring.OnStateChange = simulator::Reaction::Ignore;
    InstallDevices({ignoring});
    EXPECT_TRUE(DisableEnableDevice(OpenFirstDevice()));
    EXPECT_EQ(CallsOf("SetupDiCallClassInstaller").size(), 1u);
    EXPECT_EQ(CallSummary().back(), "CM_Get_DevNode_Status");
}

TEST(DisableEnableDevice, AnswersFalseWhenTheAdapterMayBeLeftDisabled)
{
    // The device cannot be fetched again after a successful disabling.
    simulator::Fault lostDevice = FailingCall(Operation::SetupDiEnumDeviceInfo, 259);
    lostDevice.Nth = 5;
    InstallDevices({NetDevice("Corvane Wireless")}, {lostDevice});
    EXPECT_FALSE(DisableEnableDevice(OpenFirstDevice()));
    EXPECT_EQ(simulator::Output(), "SetupDiEnumDeviceInfo FAILED\n");
    EXPECT_EQ(CallsOf("SetupDiCallClassInstaller").size(), 1u);

    // Its status cannot be read after the disabling.
    simulator::Fault noStatus = FailingCall(Operation::CM_Get_DevNode_Status, 0xD);
    noStatus.Nth = 3;
    InstallDevices({NetDevice("Corvane Wireless")}, {noStatus});
    EXPECT_FALSE(DisableEnableDevice(OpenFirstDevice()));
    EXPECT_EQ(simulator::Output(), "CM_GET_DevNode_Status FAILED\n");
    EXPECT_EQ(CallsOf("SetupDiCallClassInstaller").size(), 1u);

    // The enabling's class installer fails.
    InstallDevices({NetDevice("Corvane Wireless")},
                   {FailingCall(Operation::SetupDiCallClassInstaller, CLASS_INSTALLER_FAILED, DICS_ENABLE)});
    EXPECT_FALSE(DisableEnableDevice(OpenFirstDevice()));
    EXPECT_EQ(simulator::Output(), "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n");
    EXPECT_EQ(simulator::Current().Devices[0].Problem, CM_PROB_DISABLED);
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

TEST(SetDeviceState, AsksForARestartRightAfterEachChange)
{
    for (simulator::Reaction reaction : {simulator::Reaction::NeedRestart, simulator::Reaction::NeedReboot}) {
        simulator::Device device = NetDevice("Corvane Wireless");
        device.OnStateChange = reaction;
        InstallDevices({device});
        EXPECT_TRUE(DisableEnableDevice(OpenFirstDevice()));
        std::vector<std::string> tail;
        for (const std::string& line : CallSummary({"stateChange"})) {
            if (line.rfind("SetupDiCallClassInstaller", 0) == 0 || line.rfind("Output", 0) == 0) {
                tail.push_back(line);
            }
        }
        std::vector<std::string> expected = {
            "SetupDiCallClassInstaller stateChange=2", "Output \"Need Restart Computer\\x0a\"",
            "SetupDiCallClassInstaller stateChange=1", "Output \"Need Restart Computer\\x0a\""};
        EXPECT_EQ(tail, expected);
    }
}

} // namespace
