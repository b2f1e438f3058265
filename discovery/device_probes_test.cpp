#include "discovery/device_probes.h"

#include <gtest/gtest.h>

#include "tests/support/machines.h"

using namespace platform;
using testsupport::InstallDevices;
using testsupport::NetDevice;

namespace {

DeviceRef OpenDevice(DWORD index)
{
    return DeviceRef{SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES), index};
}

TEST(DeviceProbes, AnswerFromTheStatusPair)
{
    const DWORD base = simulator::DEFAULT_STATUS & ~DN_DISABLEABLE;
    struct Case {
        DWORD status;
        DWORD problem;
        BOOL canDisable;
        BOOL disabled;
    } cases[] = {
        {base | DN_DISABLEABLE, 0, TRUE, FALSE},
        {base, 0, FALSE, FALSE},
        {base | DN_DISABLEABLE, CM_PROB_HARDWARE_DISABLED, FALSE, FALSE},
        {base | DN_DISABLEABLE | DN_HAS_PROBLEM, CM_PROB_HARDWARE_DISABLED, FALSE, FALSE},
        {base | DN_DISABLEABLE, CM_PROB_DISABLED, TRUE, FALSE},
        {base | DN_DISABLEABLE | DN_HAS_PROBLEM, CM_PROB_DISABLED, TRUE, TRUE},
        {base | DN_HAS_PROBLEM, 0, FALSE, FALSE},
    };
    for (const Case& c : cases) {
        simulator::Device device = NetDevice("Corvane Wireless");
        device.Status = c.status;
        device.Problem = c.problem;
        InstallDevices({device});
        DeviceRef ref = OpenDevice(0);
        EXPECT_EQ(CanDisableDevice(ref), c.canDisable) << std::hex << c.status << " " << c.problem;
        EXPECT_EQ(IsDeviceDisabled(ref), c.disabled) << std::hex << c.status << " " << c.problem;
        EXPECT_EQ(simulator::Output(), "");
    }
}

} // namespace
