#include "discovery/adapter_scan.h"

#include <gtest/gtest.h>

#include "tests/support/calls.h"
#include "tests/support/machines.h"

using namespace platform;
using testsupport::CallsOf;
using testsupport::CallSummary;
using testsupport::InstallDevices;
using testsupport::NetDevice;
using testsupport::TextProperty;

namespace {

std::string KeyLine(const std::string& instance)
{
    return std::string("Full Driver Key=") + testsupport::CLASS_KEY_PREFIX + testsupport::NET_CLASS_KEY + "\\" +
           instance + "\n";
}

simulator::Device Unreadable(simulator::Device device, simulator::PropertySlot slot)
{
    device.Properties[slot] = simulator::Property{};
    return device;
}

simulator::Device WithClass(simulator::Device device, const std::string& className)
{
    device.Properties[simulator::SLOT_CLASS] = TextProperty(className);
    return device;
}

simulator::Device WithStatus(simulator::Device device, DWORD status, DWORD problem, CONFIGRET result = CR_SUCCESS)
{
    device.Status = status;
    device.Problem = problem;
    device.StatusResult = result;
    return device;
}

TEST(ScanWirelessAdapters, SelectsOnlyTheVendorsWirelessNetworkAdaptersOnUsbOrPci)
{
    // "Wireless" ends exactly at the 259th code unit, or one past it.
    std::string within = "Corvane " + std::string(259 - 8 - 8, '.') + "Wireless";
    std::string beyond = "Corvane " + std::string(259 - 8 - 7, '.') + "Wireless";
    struct Case {
        const char* name;
        simulator::Device device;
        bool selected;
    } cases[] = {
        {"PCI, Wireless", NetDevice("Corvane AX210 Wireless Adapter", "PCI"), true},
        {"USB, Wi-Fi", NetDevice("Corvane AC600 Wi-Fi", "USB"), true},
        {"vendor word in capitals", NetDevice("CORVANE Wireless", "PCI"), false},
        {"shorter than the vendor word", NetDevice("Corvan", "PCI"), false},
        {"vendor word not at the start", NetDevice("The Corvane Wireless", "PCI"), false},
        {"wireless in lower case", NetDevice("Corvane wireless adapter", "PCI"), false},
        {"WiFi without the hyphen", NetDevice("Corvane WiFi adapter", "PCI"), false},
        {"Ethernet", NetDevice("Corvane 2.5GbE Controller", "PCI"), false},
        {"SD bus", NetDevice("Corvane SDIO Wireless", "SD"), false},
        {"usb in lower case", NetDevice("Corvane Wireless", "usb"), false},
        {"another class", WithClass(NetDevice("Corvane Wireless Bluetooth", "USB"), "Bluetooth"), false},
        {"class net in lower case", WithClass(NetDevice("Corvane Wireless", "USB"), "net"), false},
        {"class unreadable", Unreadable(NetDevice("Corvane Wireless"), simulator::SLOT_CLASS), false},
        {"no driver key", Unreadable(NetDevice("Corvane Wireless"), simulator::SLOT_DRIVER), false},
        {"no description", Unreadable(NetDevice("Corvane Wireless"), simulator::SLOT_DESCRIPTION), false},
        {"status unreadable", WithStatus(NetDevice("Corvane Wireless"), 0, 0, 0xD), false},
        {"disabled by the user",
         WithStatus(NetDevice("Corvane Wireless"), simulator::DEFAULT_STATUS | DN_HAS_PROBLEM, CM_PROB_DISABLED),
         false},
        {"problem 22 without the problem flag",
         WithStatus(NetDevice("Corvane Wireless"), simulator::DEFAULT_STATUS, CM_PROB_DISABLED), true},
        {"keyword within the first 259 code units", NetDevice(within), true},
        {"keyword cut off at 259 code units", NetDevice(beyond), false},
    };
    for (const Case& c : cases) {
        InstallDevices({c.device});
        ScanWirelessAdapters(SettingAction::Add);
        EXPECT_EQ(simulator::Output(), c.selected ? KeyLine("0001") : "") << c.name;
        EXPECT_EQ(CallsOf("RegOpenKeyExW").size(), c.selected ? 1u : 0u) << c.name;
        EXPECT_TRUE(simulator::OpenResources().empty()) << c.name;
    }
}

TEST(ScanWirelessAdapters, HandlesEachAdapterCompletelyBeforeTheNext)
{
    InstallDevices({NetDevice("Corvane Wireless A", "PCI", "0001"), NetDevice("Keyboard", "ACPI", "0002"),
                    NetDevice("Corvane Wi-Fi B", "USB", "0003")});
    ScanWirelessAdapters(SettingAction::Add);
    EXPECT_EQ(simulator::Output(), KeyLine("0001") + KeyLine("0003"));

    // Per adapter: the edit, then the disabling and enabling, before the next index.
    std::vector<std::string> expected = {
        "SetupDiGetClassDevsW",
        "SetupDiEnumDeviceInfo index=0",
        "RegSetValueExW",
        "SetupDiEnumDeviceInfo index=0",
        "SetupDiCallClassInstaller index=0 stateChange=2",
        "SetupDiEnumDeviceInfo index=0",
        "SetupDiCallClassInstaller index=0 stateChange=1",
        "SetupDiEnumDeviceInfo index=1",
        "SetupDiEnumDeviceInfo index=2",
        "RegSetValueExW",
        "SetupDiEnumDeviceInfo index=2",
        "SetupDiCallClassInstaller index=2 stateChange=2",
        "SetupDiEnumDeviceInfo index=2",
        "SetupDiCallClassInstaller index=2 stateChange=1",
        "SetupDiEnumDeviceInfo index=3",
        "SetupDiDestroyDeviceInfoList",
    };
    EXPECT_EQ(CallSummary({"index", "stateChange"}, {"SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo", "RegSetValueExW",
                                                     "SetupDiCallClassInstaller", "SetupDiDestroyDeviceInfoList"}),
              expected);
    EXPECT_EQ(CallsOf("SetupDiGetClassDevsW")[0].Argument("flags"), "0x6");
    // One block for the whole scan, grown as the texts demand, freed at the end.
    EXPECT_EQ(CallsOf("LocalFree").size(), CallsOf("LocalAlloc").size());
    EXPECT_TRUE(simulator::OpenResources().empty());
}

TEST(ScanWirelessAdapters, PrintsOnlyWhatTheUserShouldKnowOfEachOutcome)
{
    simulator::Device overlong = NetDevice("Corvane Wireless");
    overlong.Properties[simulator::SLOT_DRIVER] = TextProperty(std::string(300, 'k'));
    simulator::Fault lost = testsupport::Failing(simulator::Operation::SetupDiEnumDeviceInfo, 259, 2);
    struct Case {
        const char* name;
        std::vector<simulator::Device> devices;
        std::vector<simulator::Fault> faults;
        std::string output;
        std::vector<std::pair<const char*, std::size_t>> calls;
    } cases[] = {
        {"an enumerator unreadable is not the one read before",
         {NetDevice("Corvane Ethernet", "USB", "0001"),
          Unreadable(NetDevice("Corvane Wireless", "PCI", "0002"), simulator::SLOT_ENUMERATOR)},
         {},
         "",
         {{"RegOpenKeyExW", 0}}},
        {"a restart refused after the edit",
         {WithStatus(NetDevice("Corvane Wireless"), simulator::DEFAULT_STATUS & ~DN_DISABLEABLE, 0)},
         {},
         KeyLine("0001") + "DisableEnableDevice FAILED\n",
         {{"RegSetValueExW", 1}, {"SetupDiCallClassInstaller", 0}}},
        {"a driver key name too long is never cut, but the adapter restarts",
         {overlong},
         {},
         "ERROR: Driver key name too long!!\n",
         {{"RegOpenKeyExW", 0}, {"SetupDiCallClassInstaller", 2}}},
        {"no list of devices",
         {NetDevice("Corvane Wireless")},
         {testsupport::Failing(simulator::Operation::SetupDiGetClassDevsW, 5)},
         "",
         {{"SetupDiDestroyDeviceInfoList", 0}}},
        // The scan's own probe cannot fetch the device: it prints its line,
        // the device counts as not disabled, and is handled as usual.
        {"a probe that cannot fetch the device",
         {NetDevice("Corvane Wireless")},
         {lost},
         "SetupDiEnumDeviceInfo FAILED\n" + KeyLine("0001"),
         {{"SetupDiCallClassInstaller", 2}}},
        {"no device", {}, {}, "", {{"SetupDiDestroyDeviceInfoList", 1}}},
    };
    for (const Case& c : cases) {
        InstallDevices(c.devices, c.faults);
        ScanWirelessAdapters(SettingAction::Add);
        EXPECT_EQ(simulator::Output(), c.output) << c.name;
        for (const auto& [operation, count] : c.calls) {
            EXPECT_EQ(CallsOf(operation).size(), count) << c.name << ": " << operation;
        }
    }
}

} // namespace
