// The tool's routines against a real implementation of the Windows API:
// Wine's registry, SetupAPI and class installer.
// The tool's headers come first: the SDK's macros, defined after them, would
// otherwise replace the names of the boundary's constants.
#include "discovery/device_probes.h"
#include "discovery/property_reader.h"
#include "platform/win/windows_operations.h"
#include "preflight/journal.h"
#include "restart/device_restart.h"
#include "setting/driver_setting.h"

#include <initguid.h>

#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include "tests/windows/read_only_key.h"

#include <string>
#include <vector>

namespace {

// These tests run the tool's routines on the Windows backend, chosen before
// any test runs, as tessary.exe's entry chooses it.
const bool windowsChosen = (platform::UseOperations(&platform::WindowsOperations()), true);

// Standard output is captured to a file that is read back in text mode; a
// stray CR would still show.
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const wchar_t TEST_CLASS_KEY[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{7e55a4e1-0c1d-4a8e-9a43-5e55a4e17e55}";

// A driver key of its own for each test, below a class key that no real
// device uses, removed afterwards.
class RealRegistry : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = L"{7e55a4e1-0c1d-4a8e-9a43-5e55a4e17e55}\\" +
                std::to_wstring(::testing::UnitTest::GetInstance()->random_seed()) + L"_" +
                std::to_wstring(::GetTickCount());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS_VALUE, nullptr,
                                    &key_, nullptr),
                  0);
    }

    void TearDown() override
    {
        ::RegCloseKey(key_);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path().c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEST_CLASS_KEY);
    }

    std::wstring Path() const { return L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + name_; }
    std::string KeyLine() const { return KeyLine(name_); }
    static std::string KeyLine(const std::wstring& name)
    {
        return "Full Driver Key=SYSTEM\\CurrentControlSet\\Control\\Class\\" + Narrow(name) + "\n";
    }

    static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    // Runs the editor and answers what it printed.
    static std::string Update(SettingAction action, const std::wstring& name)
    {
        CaptureStdout();
        UpdateDriverSetting(action, reinterpret_cast<const platform::WCHAR*>(name.c_str()));
        return GetCapturedStdout();
    }

    static constexpr REGSAM KEY_ALL_ACCESS_VALUE = 0xF003F;
    std::wstring name_;
    HKEY key_ = nullptr;
};

TEST_F(RealRegistry, EditsTheSettingAndReportsWhatItCannotDo)
{
    DWORD old = 7;
    ASSERT_EQ(
        ::RegSetValueExW(key_, L"WapiSupport", 0, 4 /* REG_DWORD */, reinterpret_cast<const BYTE*>(&old), sizeof(old)),
        0);
    EXPECT_EQ(Update(SettingAction::Add, name_), KeyLine());

    DWORD type = 0;
    BYTE data[16] = {};
    DWORD size = sizeof(data);
    ASSERT_EQ(::RegQueryValueExW(key_, L"WapiSupport", nullptr, &type, data, &size), 0);
    EXPECT_EQ(type, 1u); // REG_SZ
    EXPECT_EQ(std::vector<BYTE>(data, data + size), (std::vector<BYTE>{0x31, 0x00}));

    EXPECT_EQ(Update(SettingAction::Delete, name_), KeyLine());
    EXPECT_EQ(::RegQueryValueExW(key_, L"WapiSupport", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(Update(SettingAction::Delete, name_), KeyLine() + "ERROR: Delete parameter WapiSupport failed!!\n");

    std::wstring missing = name_ + L"_missing";
    EXPECT_EQ(Update(SettingAction::Add, missing), KeyLine(missing) + "ERROR: Open registry error!!\n");
}

TEST_F(RealRegistry, AKeyWithoutFullAccessIsReported)
{
    // Only read access for everyone; Wine may not enforce it.
    LONG set = AllowReadingOnly(key_);
    HKEY probe = nullptr;
    if (set != 0 || ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path().c_str(), 0, KEY_ALL_ACCESS_VALUE, &probe) == 0) {
        if (probe != nullptr) {
            ::RegCloseKey(probe);
        }
        GTEST_SKIP() << "this Wine grants full access whatever the key's security says";
    }
    EXPECT_EQ(Update(SettingAction::Add, name_), KeyLine() + "ERROR: Open registry error!!\n");
}

// A device that the test registers with Wine's SetupAPI and removes again.
class RealDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        set_ = ::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_NET, nullptr);
        ASSERT_NE(set_, reinterpret_cast<HDEVINFO>(-1));
        info_.cbSize = sizeof(info_);
        ASSERT_TRUE(::SetupDiCreateDeviceInfoW(set_, L"TESSARYTEST", &GUID_DEVCLASS_NET, nullptr, nullptr,
                                               DICD_GENERATE_ID, &info_));
        ASSERT_TRUE(::SetupDiRegisterDeviceInfo(set_, &info_, 0, nullptr, nullptr, nullptr));
    }

    void TearDown() override
    {
        ::SetupDiRemoveDevice(set_, &info_);
        ::SetupDiDestroyDeviceInfoList(set_);
    }

    void SetProperty(DWORD property, const void* data, DWORD size)
    {
        ASSERT_TRUE(::SetupDiSetDeviceRegistryPropertyW(set_, &info_, property, static_cast<const BYTE*>(data), size));
    }

    platform::SP_DEVINFO_DATA* Info() { return reinterpret_cast<platform::SP_DEVINFO_DATA*>(&info_); }
    DeviceRef Ref(DWORD index = 0) { return DeviceRef{set_, index}; }

    HDEVINFO set_ = nullptr;
    SP_DEVINFO_DATA info_ = {};
};

TEST_F(RealDevice, ThePropertyReaderGrowsItsBlockAndBoundsUnterminatedData)
{
    std::wstring description = L"Corvane " + std::wstring(284, L'x') + L"Wireless"; // 300 units, 602 bytes
    SetProperty(SPDRP_DEVICEDESC, description.c_str(), static_cast<DWORD>((description.size() + 1) * 2));
    const BYTE unterminated[] = {'N', 0, 'e', 0, 't', 0, 'x'};
    SetProperty(SPDRP_FRIENDLYNAME, unterminated, sizeof(unterminated));

    PropertyBuffer buffer = {};
    TextField field = {};
    ASSERT_TRUE(ReadDeviceProperty(set_, Info(), SPDRP_DEVICEDESC, &buffer));
    EXPECT_EQ(buffer.Capacity, 602u);
    CopyPropertyText(&field, &buffer);
    EXPECT_EQ(std::u16string(field.Text), std::u16string(u"Corvane ") + std::u16string(251, u'x'));

    // The block still holds the description's bytes; the text ends with the
    // seven bytes this read returned, the odd one left out.
    ASSERT_TRUE(ReadDeviceProperty(set_, Info(), SPDRP_FRIENDLYNAME, &buffer));
    EXPECT_EQ(buffer.Capacity, 602u);
    EXPECT_EQ(PropertyTextLength(&buffer), 3u);
    CopyPropertyText(&field, &buffer);
    EXPECT_EQ(std::u16string(field.Text), u"Net");

    EXPECT_FALSE(ReadDeviceProperty(set_, Info(), SPDRP_DRIVER, &buffer)); // never set
    ReleasePropertyBlock(&buffer);
}

TEST_F(RealDevice, TheProbesAndTheRestartReportWhatWineAnswers)
{
    CaptureStdout();
    // Wine reports no DN_DISABLEABLE and no problem.
    EXPECT_FALSE(CanDisableDevice(Ref()));
    EXPECT_FALSE(IsDeviceDisabled(Ref()));
    EXPECT_FALSE(DisableEnableDevice(Ref()));
    EXPECT_EQ(GetCapturedStdout(), "");

    CaptureStdout();
    EXPECT_FALSE(IsDeviceDisabled(Ref(1)));
    EXPECT_FALSE(CanDisableDevice(Ref(1)));
    EXPECT_EQ(GetCapturedStdout(), "SetupDiEnumDeviceInfo FAILED\nSetupDiEnumDeviceInfo FAILED\n");

    // Wine's class installer does not carry out property changes: whichever
    // step fails, its line and the answer must agree.
    CaptureStdout();
    platform::BOOL answer = SetDeviceState(DICS_DISABLE, Ref());
    std::string printed = GetCapturedStdout();
    if (printed == "SetupDiSetClassInstallParams FAILED\n") {
        EXPECT_FALSE(answer);
    } else {
        EXPECT_EQ(printed, "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n");
        EXPECT_TRUE(answer);
    }
}

// The deployment's journal in Wine's registry: entries recorded, read back
// with their instance IDs and whether a disable was asked, and cleared by
// name in any letter case, one after the SYSTEM hive is written out; one
// that is not there counts as cleared. A key-only entry leaves one of its
// name as it stands.
TEST(RealJournal, RecordsReadsAndClearsEntries)
{
    const wchar_t parent[] = L"SOFTWARE\\Tessary";
    const wchar_t journal[] = L"SOFTWARE\\Tessary\\Restarting";
    HKEY existing = nullptr;
    const bool parentWasThere = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent, 0, KEY_READ, &existing) == 0;
    if (parentWasThere) {
        ::RegCloseKey(existing);
    }
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, journal);

    std::vector<JournalEntry> entries;
    platform::DWORD error = 1;
    ASSERT_TRUE(ReadJournal(&entries, &error)); // never made: none
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(error, 0u);
    const JournalEntry first = {u"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001", u"PCI\\VEN_1"};
    const JournalEntry second = {u"{4d36e972-e325-11ce-bfc1-08002be10318}\\0005", u"USB\\VID_2", true};
    EXPECT_EQ(RecordRestart(first), 0);
    EXPECT_EQ(RecordRestart({first.DriverKeyName, u"", true}), 0);
    EXPECT_EQ(RecordRestart(second), 0);
    ASSERT_TRUE(ReadJournal(&entries, &error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    for (const JournalEntry& entry : entries) {
        const JournalEntry& recorded = entry.DriverKeyName == first.DriverKeyName ? first : second;
        EXPECT_EQ(entry.DriverKeyName, recorded.DriverKeyName);
        EXPECT_EQ(entry.InstanceId, recorded.InstanceId);
        EXPECT_EQ(entry.KeyOnly, recorded.KeyOnly);
    }
    platform::LSTATUS unflushed = -1;
    EXPECT_EQ(ClearRestart(u"{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001", &unflushed), 0);
    EXPECT_EQ(unflushed, 0);
    EXPECT_EQ(ClearRestart(first.DriverKeyName, &unflushed), 0);
    ASSERT_TRUE(ReadJournal(&entries, &error));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].DriverKeyName, second.DriverKeyName);
    // Its adapter's driver key is not in Wine's registry: the SYSTEM hive is
    // written out through its root before the entry goes.
    EXPECT_EQ(ClearRestartOnceEnabled(second.DriverKeyName, &unflushed), 0);
    EXPECT_EQ(unflushed, 0);
    ASSERT_TRUE(ReadJournal(&entries, &error));
    EXPECT_TRUE(entries.empty());

    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, journal);
    if (!parentWasThere) {
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, parent);
    }
}

} // namespace
