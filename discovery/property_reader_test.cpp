#include "discovery/property_reader.h"

#include <gtest/gtest.h>

#include "tests/support/calls.h"
#include "tests/support/machines.h"

using namespace platform;
using testsupport::BytesProperty;
using testsupport::CallsOf;
using testsupport::InstallDevices;
using testsupport::NetDevice;
using testsupport::TextProperty;

namespace {

// A set opened on the installed machine, with device 0 fetched.
struct OpenDevice {
    HDEVINFO Set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA Info = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
    PropertyBuffer Buffer = {};

    OpenDevice() { SetupDiEnumDeviceInfo(Set, 0, &Info); }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;
    ~OpenDevice()
    {
        ReleasePropertyBlock(&Buffer);
        SetupDiDestroyDeviceInfoList(Set);
        EXPECT_TRUE(simulator::OpenResources().empty());
    }

    BOOL Read(DWORD property) { return ReadDeviceProperty(Set, &Info, property, &Buffer); }
    PropertyRead ReadText(DWORD property) { return ReadDevicePropertyText(Set, &Info, property, &Buffer); }
    std::u16string Text() const
    {
        TextField field = {};
        CopyPropertyText(&field, &Buffer);
        return field.Text;
    }
};

simulator::Fault AskForRoom(DWORD requiredSize, std::int64_t times)
{
    simulator::Fault fault;
    fault.Call = simulator::Operation::SetupDiGetDeviceRegistryPropertyW;
    fault.Error = ERROR_INSUFFICIENT_BUFFER;
    fault.SetsRequiredSize = true;
    fault.RequiredSize = requiredSize;
    fault.Times = times;
    return fault;
}

TEST(ReadDeviceProperty, GivesUpOnAPlatformThatKeepsAskingForRoom)
{
    for (DWORD asked : {DWORD{0}, DWORD{4}, DWORD{8}, DWORD{64}}) {
        InstallDevices({NetDevice("Corvane Wireless")}, {AskForRoom(asked, -1)});
        OpenDevice device;
        EXPECT_FALSE(device.Read(SPDRP_CLASS)) << asked;
        EXPECT_EQ(CallsOf("SetupDiGetDeviceRegistryPropertyW").size(), 1u + MAX_PROPERTY_BLOCK_GROWTHS) << asked;
        EXPECT_EQ(device.Buffer.Capacity, asked);
        EXPECT_TRUE(simulator::Violations().empty()) << asked;
    }
}

TEST(ReadDeviceProperty, AFailedAllocationLeavesNoSizeBehind)
{
    // The block for "Net" is had; the larger one the description needs is not.
    InstallDevices({NetDevice("Corvane Wireless")}, {testsupport::Failing(simulator::Operation::LocalAlloc, 8, 2)});
    OpenDevice device;
    ASSERT_TRUE(device.Read(SPDRP_CLASS));
    EXPECT_FALSE(device.Read(SPDRP_DEVICEDESC));
    EXPECT_EQ(device.Buffer.Block, nullptr);
    EXPECT_EQ(device.Buffer.Capacity, 0u);
    EXPECT_TRUE(device.Read(SPDRP_CLASS)); // the next read starts afresh
    EXPECT_EQ(CallsOf("SetupDiGetDeviceRegistryPropertyW").back().Argument("size"), "8");
    EXPECT_TRUE(simulator::Violations().empty());
}

// Whether a device lacks a property or it could not be read decides whether
// a journal entry's adapter may be taken for unplugged.
TEST(ReadDevicePropertyText, TellsAPropertyTheDeviceLacksFromOneThatCannotBeRead)
{
    simulator::Device device = NetDevice("Corvane Wireless");
    device.Properties[simulator::SLOT_DRIVER] = BytesProperty({});
    device.Properties[simulator::SLOT_ENUMERATOR] = simulator::Property{}; // the device has none
    device.Properties[simulator::SLOT_DESCRIPTION] = TextProperty("");     // a terminator alone
    InstallDevices({device});
    {
        OpenDevice open;
        EXPECT_EQ(open.ReadText(SPDRP_DEVICEDESC), PropertyRead::None);
        EXPECT_EQ(open.ReadText(SPDRP_DRIVER), PropertyRead::None); // empty, with no block yet
        EXPECT_EQ(open.ReadText(SPDRP_ENUMERATOR_NAME), PropertyRead::None);
        EXPECT_EQ(open.ReadText(SPDRP_CLASS), PropertyRead::Text);
        EXPECT_EQ(open.ReadText(SPDRP_DRIVER), PropertyRead::None); // empty, with a block
    }
    // Another error, a block that cannot grow, a platform that asks for ever
    // more room.
    for (const simulator::Fault& fault :
         {testsupport::Failing(simulator::Operation::SetupDiGetDeviceRegistryPropertyW, 5),
          testsupport::Failing(simulator::Operation::LocalAlloc, 8), AskForRoom(64, -1)}) {
        InstallDevices({device}, {fault});
        OpenDevice open;
        EXPECT_EQ(open.ReadText(SPDRP_CLASS), PropertyRead::Unreadable) << simulator::KindOf(fault.Call).Name;
    }
}

} // namespace
