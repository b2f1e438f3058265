// Tests of the double itself, for what the tool's tests rely on: its fault
// filters, its checks of handles and records, the registry's terminator rule
// and its report of what was left open.
#include "platform/sim/simulator.h"

#include <gtest/gtest.h>

#include "tests/support/machines.h"

namespace {

using namespace platform;
using simulator::Fault;
using simulator::Operation;
using testsupport::Failing;

HDEVINFO OpenSet()
{
    return SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
}

TEST(Faults, FireOnTheCallsEveryFilterMatchesAsOftenAsTold)
{
    struct Case {
        std::uint64_t nth;
        std::int64_t device;
        std::int64_t times;
        const char* failed; // SetupDiEnumDeviceInfo over indexes 0, 1, 2, twice
    } cases[] = {
        {0, -1, 1, "x....."}, {0, -1, -1, "xxxxxx"}, {0, -1, 2, "xx...."}, {4, -1, -1, "...x.."},
        {0, 1, -1, ".x..x."}, {0, 1, 1, ".x...."}, {3, 1, -1, "......"}, // the third call is not device 1's
    };
    for (const Case& c : cases) {
        Fault fault = Failing(Operation::SetupDiEnumDeviceInfo, 5);
        fault.Nth = c.nth;
        fault.Device = c.device;
        fault.Times = c.times;
        simulator::Install({true, std::vector<simulator::Device>(3), {}, {fault}});
        HDEVINFO set = OpenSet();
        std::string failed;
        for (int round = 0; round < 2; ++round) {
            for (DWORD index = 0; index < 3; ++index) {
                SP_DEVINFO_DATA info = {sizeof(info), {}, 0, 0};
                failed += SetupDiEnumDeviceInfo(set, index, &info) ? "." : "x";
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        EXPECT_EQ(failed, c.failed) << c.nth << " " << c.device << " " << c.times;
    }

    // A property and a state change filter; the first matching fault fires,
    // and a read failing for want of room reports the size it was given.
    Fault description = Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 31);
    description.Property = SPDRP_DEVICEDESC;
    Fault roomy = Failing(Operation::SetupDiGetDeviceRegistryPropertyW, ERROR_INSUFFICIENT_BUFFER);
    roomy.SetsRequiredSize = true;
    roomy.RequiredSize = 7;
    roomy.Times = -1;
    Fault enabling = Failing(Operation::SetupDiCallClassInstaller, 0xE0000219);
    enabling.StateChange = DICS_ENABLE;
    simulator::Install({true, {testsupport::NetDevice("Corvane")}, {}, {description, roomy, enabling}});
    HDEVINFO set = OpenSet();
    SP_DEVINFO_DATA info = {sizeof(info), {}, 0, 0};
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    BYTE buffer[64] = {};
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_CLASS, nullptr, buffer, 64, &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 7u);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, buffer, 64, &required));
    EXPECT_EQ(GetLastError(), 31u);
    for (DWORD change : {DICS_DISABLE, DICS_ENABLE}) {
        SP_PROPCHANGE_PARAMS params = {{sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE}, change, 2, 0};
        ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &info, &params.ClassInstallHeader, sizeof(params)));
        EXPECT_EQ(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &info), change == DICS_DISABLE) << change;
    }
    SetupDiDestroyDeviceInfoList(set);
}

TEST(Operations, RefuseHandlesAndRecordsThatAreNotTheirs)
{
    simulator::Install({true, {simulator::Device{}, simulator::Device{}}, {}, {}});
    HDEVINFO set = OpenSet();
    HDEVINFO other = OpenSet();
    SP_DEVINFO_DATA info = {sizeof(info), {}, 0, 0};
    ASSERT_TRUE(SetupDiEnumDeviceInfo(other, 1, &info));
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsW(set, &info, &params)); // a record of another set
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_PARAMETER);
    SP_DEVINFO_DATA wrongSize = info;
    wrongSize.cbSize += 4;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &wrongSize));
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 2, &info));
    EXPECT_EQ(GetLastError(), simulator::ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(other));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(other)); // twice
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_HANDLE);
    SetupDiDestroyDeviceInfoList(set);
    int notABlock = 0;
    EXPECT_EQ(LocalFree(&notABlock), &notABlock);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(std::uintptr_t{0x4E9FFFFF})),
              static_cast<LSTATUS>(simulator::ERROR_INVALID_HANDLE));
}

TEST(Operations, StoreATextsTerminatorWhenTheUnitPastItsSizeIsZero)
{
    struct Case {
        std::vector<BYTE> data;
        DWORD size;
        std::vector<BYTE> stored;
    } cases[] = {
        {{0x31, 0, 0, 0}, 2, {0x31, 0, 0, 0}},                   // the unit past the size is zero
        {{0x31, 0, 0xFF, 0xFF}, 2, {0x31, 0}},                   // it is not
        {{0x31, 0, 0, 0}, 4, {0x31, 0, 0, 0}},                   // the size holds the terminator
        {{0x31, 0, 0, 0, 0x77, 0x77}, 3, {0x31, 0, 0, 0, 0x77}}, // an odd size: the unit of bytes 2 and 3
    };
    for (const Case& c : cases) {
        simulator::Install({true, {}, {testsupport::DriverKey("K")}, {}});
        HKEY opened = nullptr;
        std::u16string path = simulator::Utf8ToUtf16(std::string(testsupport::CLASS_KEY_PREFIX) + "k");
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &opened), 0);
        EXPECT_EQ(RegSetValueExW(opened, u"v", 0, REG_SZ, c.data.data(), c.size), 0);
        EXPECT_EQ(RegCloseKey(opened), 0);
        EXPECT_EQ(simulator::Current().Registry[0].Values.at(0).second.Data, c.stored) << c.size;
    }
}

TEST(Control, ReportsWhatTheToolLeftOpenAndNamesOnlyOperationsItTraces)
{
    simulator::Install({true, {simulator::Device{}}, {testsupport::DriverKey("K")}, {}});
    HDEVINFO set = OpenSet();
    HKEY opened = nullptr;
    std::u16string path = simulator::Utf8ToUtf16(std::string(testsupport::CLASS_KEY_PREFIX) + "K");
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &opened), 0);
    HLOCAL block = LocalAlloc(LPTR, 24);
    std::vector<std::string> open = simulator::OpenResources();
    ASSERT_EQ(open.size(), 3u);
    EXPECT_EQ(open[0].rfind("device information set 0x5e7", 0), 0u) << open[0];
    EXPECT_EQ(open[1], "registry key " + simulator::Utf16ToUtf8(path));
    EXPECT_EQ(open[2], "memory block of 24 bytes");
    SetupDiDestroyDeviceInfoList(set);
    RegCloseKey(opened);
    LocalFree(block);
    EXPECT_TRUE(simulator::OpenResources().empty());
    for (const simulator::Call& call : simulator::Trace()) {
        EXPECT_TRUE(simulator::IsTracedOperation(call.Operation)) << call.Operation;
    }
    EXPECT_FALSE(simulator::IsTracedOperation("SetupDiEnumDeviceInfoW"));
}

} // namespace
