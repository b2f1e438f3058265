// Tests of the simulated platform itself: its fault filters, its checks of
// handles and records, the registry's terminator rule and its report of what
// was left open. The tool's tests rely on all of these.
#include "platform/sim/simulator.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace platform;
using simulator::Fault;
using simulator::Operation;

Fault Failing(Operation call, DWORD error)
{
    Fault fault;
    fault.Call = call;
    fault.Error = error;
    return fault;
}

simulator::Device Readable(const std::u16string& description)
{
    simulator::Device device;
    device.Properties[simulator::SLOT_DESCRIPTION].Readable = true;
    device.Properties[simulator::SLOT_DESCRIPTION].Bytes = simulator::TextBytes(description);
    return device;
}

HDEVINFO OpenSet()
{
    return SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
}

// Which of the calls SetupDiEnumDeviceInfo(0..count-1), made twice over, failed.
std::string EnumerationFailures(int count)
{
    HDEVINFO set = OpenSet();
    std::string failed;
    for (int round = 0; round < 2; ++round) {
        for (int index = 0; index < count; ++index) {
            SP_DEVINFO_DATA info = {};
            info.cbSize = sizeof(info);
            failed += SetupDiEnumDeviceInfo(set, static_cast<DWORD>(index), &info) ? "." : "x";
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return failed;
}

TEST(Faults, FireOnTheCallsEveryFilterMatchesAsOftenAsTold)
{
    struct Case {
        const char* name;
        std::uint64_t nth;
        std::int64_t device;
        std::int64_t times;
        const char* failed; // over indexes 0, 1, 2, twice
    } cases[] = {
        {"the first call only", 0, -1, 1, "x....."},
        {"every call", 0, -1, -1, "xxxxxx"},
        {"twice", 0, -1, 2, "xx...."},
        {"the fourth call", 4, -1, 1, "...x.."},
        {"the fourth call, though it may fire again", 4, -1, -1, "...x.."},
        {"device 1, every time", 0, 1, -1, ".x..x."},
        {"device 1, once", 0, 1, 1, ".x...."},
        {"device 1 on the second call: never both", 2, 1, -1, ".x...."},
        {"device 1 on the third call: never both", 3, 1, -1, "......"},
    };
    for (const Case& c : cases) {
        std::vector<simulator::Device> devices(3);
        Fault fault = Failing(Operation::SetupDiEnumDeviceInfo, 5);
        fault.Nth = c.nth;
        fault.Device = c.device;
        fault.Times = c.times;
        simulator::Install({true, devices, {}, {fault}});
        EXPECT_EQ(EnumerationFailures(3), c.failed) << c.name;
        EXPECT_EQ(simulator::CallsOf(Operation::SetupDiEnumDeviceInfo), 6u) << c.name;
    }
}

TEST(Faults, MatchThePropertyAndStateChangeAndTheFirstMatchingFaultFires)
{
    Fault description = Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 31);
    description.Property = SPDRP_DEVICEDESC;
    Fault roomy = Failing(Operation::SetupDiGetDeviceRegistryPropertyW, ERROR_INSUFFICIENT_BUFFER);
    roomy.SetsRequiredSize = true;
    roomy.RequiredSize = 7;
    roomy.Times = -1;
    simulator::Install({true, {Readable(u"Corvane")}, {}, {description, roomy}});
    HDEVINFO set = OpenSet();
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    BYTE buffer[64] = {};
    DWORD required = 0;
    // The first fault is for another property; the second fires.
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_CLASS, nullptr, buffer, 64, &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 7u);
    // The first fault matches, and fires before the second.
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, buffer, 64, &required));
    EXPECT_EQ(GetLastError(), 31u);
    // It has fired its once.
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, buffer, 64, &required));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    SetupDiDestroyDeviceInfoList(set);

    // A state change: only the enabling's class installer fails.
    Fault enabling = Failing(Operation::SetupDiCallClassInstaller, 0xE0000219);
    enabling.StateChange = DICS_ENABLE;
    simulator::Install({true, {simulator::Device{}}, {}, {enabling}});
    set = OpenSet();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    for (DWORD change : {DICS_DISABLE, DICS_ENABLE}) {
        SP_PROPCHANGE_PARAMS params = {{sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE}, change, 2, 0};
        ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &info, &params.ClassInstallHeader, sizeof(params)));
        EXPECT_EQ(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &info), change == DICS_DISABLE) << change;
    }
    SetupDiDestroyDeviceInfoList(set);
}

TEST(Faults, ThatCouldNeverFireAreRefused)
{
    Fault wrongFilter = Failing(Operation::LocalAlloc, 8);
    wrongFilter.Device = 0;
    Fault success = Failing(Operation::RegOpenKeyExW, 0);
    Fault never = Failing(Operation::SetupDiEnumDeviceInfo, 5);
    never.Times = 0;
    Fault sizeWithoutRoom = Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 13);
    sizeWithoutRoom.SetsRequiredSize = true;
    for (const Fault& fault : {wrongFilter, success, never, sizeWithoutRoom}) {
        EXPECT_THROW(simulator::Install({true, {}, {}, {fault}}), std::invalid_argument)
            << simulator::KindOf(fault.Call).Name;
    }
}

TEST(Operations, RefuseHandlesAndRecordsThatAreNotTheirs)
{
    simulator::Install({true, {simulator::Device{}, simulator::Device{}}, {}, {}});
    HDEVINFO set = OpenSet();
    HDEVINFO other = OpenSet();
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(other, 1, &info));
    DWORD status = 0;
    DWORD problem = 0;
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    // A record filled from another set.
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsW(set, &info, &params));
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_PARAMETER);
    // A record whose size field is not its own size.
    SP_DEVINFO_DATA wrongSize = info;
    wrongSize.cbSize = sizeof(wrongSize) + 4;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &wrongSize));
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 2, &info));
    EXPECT_EQ(GetLastError(), simulator::ERROR_NO_MORE_ITEMS);
    EXPECT_NE(CM_Get_DevNode_Status(&status, &problem, 3, 0), CR_SUCCESS);
    // A set that was destroyed, twice.
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(other));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(other));
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsW(other, &info, &params));
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_HANDLE);
    SetupDiDestroyDeviceInfoList(set);

    // Memory and keys: only what the platform handed out.
    int notABlock = 0;
    EXPECT_EQ(LocalFree(&notABlock), &notABlock);
    EXPECT_EQ(GetLastError(), simulator::ERROR_INVALID_HANDLE);
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
        {{0x31, 0, 0, 0}, 4, {0x31, 0, 0, 0}},                   // the size holds the terminator: no look past it
        {{0x31, 0, 0, 0, 0x77, 0x77}, 3, {0x31, 0, 0, 0, 0x77}}, // an odd size: the unit of bytes 2 and 3
    };
    for (const Case& c : cases) {
        simulator::Key key;
        key.Path = u"K";
        simulator::Install({true, {}, {key}, {}});
        HKEY opened = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"k", 0, KEY_ALL_ACCESS, &opened), 0);
        EXPECT_EQ(RegSetValueExW(opened, u"v", 0, REG_SZ, c.data.data(), c.size), 0);
        EXPECT_EQ(RegCloseKey(opened), 0);
        ASSERT_EQ(simulator::Current().Registry[0].Values.size(), 1u);
        EXPECT_EQ(simulator::Current().Registry[0].Values[0].second.Data, c.stored) << c.size;
    }
}

TEST(Control, ReportsWhatTheToolLeftOpenAndNamesOnlyOperationsItTraces)
{
    simulator::Key key;
    key.Path = u"K";
    simulator::Install({true, {simulator::Device{}}, {key}, {}});
    HDEVINFO set = OpenSet();
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_ALL_ACCESS, &opened), 0);
    HLOCAL block = LocalAlloc(LPTR, 24);
    std::vector<std::string> open = simulator::OpenResources();
    ASSERT_EQ(open.size(), 3u);
    EXPECT_EQ(open[0].rfind("device information set 0x5e7", 0), 0u) << open[0];
    EXPECT_EQ(open[1], "registry key K");
    EXPECT_EQ(open[2], "memory block of 24 bytes");
    SetupDiDestroyDeviceInfoList(set);
    RegCloseKey(opened);
    LocalFree(block);
    EXPECT_TRUE(simulator::OpenResources().empty());

    WCHAR text[8] = {};
    lstrcpynW(text, u"Net", 8);
    (void)lstrcmpW(text, u"Net");
    WriteStandardOutput("x\n", 2);
    for (const simulator::Call& call : simulator::Trace()) {
        EXPECT_TRUE(simulator::IsTracedOperation(call.Operation)) << call.Operation;
    }
    EXPECT_FALSE(simulator::IsTracedOperation("SetupDiEnumDeviceInfoW"));
}

} // namespace
