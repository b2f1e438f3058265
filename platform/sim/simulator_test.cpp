// Tests of the double itself, for what the tool's tests rely on: its fault
// filters, its checks of handles and records, and its report of what was
// left open. (How its answers match Wine's is checked under Wine.)
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
        {0, 1, -1, ".x..x."}, {0, 1, 1, ".x...."},   {3, 1, -1, "......"}, // the third call is not device 1's
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

    // A property filter; the state-change filter and the size a read failing
    // for want of room reports are each relied on by a test of the tool.
    Fault description = Failing(Operation::SetupDiGetDeviceRegistryPropertyW, 31);
    description.Property = SPDRP_DEVICEDESC;
    simulator::Install(testsupport::MachineOf({testsupport::NetDevice("Corvane")}, {description}));
    HDEVINFO set = OpenSet();
    SP_DEVINFO_DATA info = {sizeof(info), {}, 0, 0};
    BYTE buffer[64] = {};
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info) &&
                SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_CLASS, nullptr, buffer, 64, nullptr));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, buffer, 64, nullptr));
    EXPECT_EQ(GetLastError(), 31u);
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

TEST(Text, CommandLineBytesThatAreNoUtf8BecomeReplacementCharacters)
{
    // Whole sequences of one to four bytes decode; a lead byte no sequence
    // has (F5 to FF, C0, C1), a stray continuation byte, a truncated or
    // overlong sequence, or a surrogate's encoding is one U+FFFD per byte
    // that cannot start a character, and the bytes after it are read afresh.
    struct Case {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", u"a\u00e9\u20ac\U0001F600"},
        {"\xf8\x80\x80", u"\ufffd\ufffd\ufffd"},
        {"\xff\x80\x80"
         "a",
         u"\ufffd\ufffd\ufffda"},
        {"\xf5\x80\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},
        {"\xc0\xaf", u"\ufffd\ufffd"},
        {"\xe0\x80\xaf", u"\ufffd\ufffd\ufffd"},
        {"\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},
        {"\xe2\x82", u"\ufffd\ufffd"},
        // The last code point, and past it; a sequence cut by the end.
        {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
        {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},
        {"a\xf0\x9f\x98", u"a\ufffd\ufffd\ufffd"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(simulator::Utf8ToUtf16(c.bytes), c.text) << c.bytes;
    }
}
