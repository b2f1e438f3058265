// Devices and driver keys for the pre-flight's test under Wine, and the check
// of a saved snapshot against what Wine's SetupAPI and registry answer.
//
//   preflight_devices register       registers the devices and makes their keys
//   preflight_devices check FILE     compares the snapshot in FILE with direct reads
//   preflight_devices remove         removes them again
//
// The tool's headers come first: the SDK's macros, defined after them, would
// otherwise replace the names of the boundary's constants.
#include "machine_file/machine_file.h"

#include <initguid.h>

#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include "tests/windows/read_only_key.h"

#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>
#include <vector>

namespace {

const wchar_t INSTANCE[] = L"TESSARYPREFLIGHT";
const std::wstring CLASS_KEY = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::wstring NET = L"{4d36e972-e325-11ce-bfc1-08002be10318}\\";

enum class KeyKind { None, Plain, WithSetting, OtherSetting, ReadOnly };

struct TestDevice {
    std::vector<BYTE> Description;
    std::wstring Driver;
    KeyKind Key;
};

std::vector<BYTE> Text(const std::wstring& text)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<TestDevice> Devices()
{
    return {
        {Text(L"Corvane AX210 Wireless"), NET + L"9901", KeyKind::WithSetting},
        {Text(L"Corvane AC600 Wi-Fi"), NET + L"9902", KeyKind::Plain},
        {{'C', 0, 'o', 0, 'r', 0, 'v', 0, 'a', 0, 'n', 0, 'e', 0, 'x'},
         NET + L"9903",
         KeyKind::None}, // odd, unterminated
        {Text(L"Corvane " + std::wstring(300, L'x') + L" Wireless"), NET + L"9904", KeyKind::OtherSetting},
        {Text(L"Corvane N150 Wireless"), NET + L"9905", KeyKind::ReadOnly},
    };
}

bool Register()
{
    HDEVINFO set = ::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_NET, nullptr);
    const std::vector<BYTE> netClass = Text(L"Net");
    for (const TestDevice& device : Devices()) {
        SP_DEVINFO_DATA info = {};
        info.cbSize = sizeof(info);
        const std::vector<BYTE> driver = Text(device.Driver);
        if (!::SetupDiCreateDeviceInfoW(set, INSTANCE, &GUID_DEVCLASS_NET, nullptr, nullptr, DICD_GENERATE_ID, &info) ||
            !::SetupDiRegisterDeviceInfo(set, &info, 0, nullptr, nullptr, nullptr) ||
            !::SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, device.Description.data(),
                                                 static_cast<DWORD>(device.Description.size())) ||
            !::SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_DRIVER, driver.data(),
                                                 static_cast<DWORD>(driver.size()))) {
            std::printf("a device could not be registered (error %lu)\n", ::GetLastError());
            return false;
        }
        // Wine keeps no class name of its own; set one where it lets us.
        (void)::SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_CLASS, netClass.data(),
                                                  static_cast<DWORD>(netClass.size()));
        if (device.Key == KeyKind::None) {
            continue;
        }
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (CLASS_KEY + device.Driver).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr) != ERROR_SUCCESS) {
            std::printf("a driver key could not be made\n");
            return false;
        }
        const BYTE one[] = {0x31, 0x00};
        const BYTE seven[] = {7, 0, 0, 0};
        if (device.Key == KeyKind::WithSetting) {
            ::RegSetValueExW(key, L"WapiSupport", 0, REG_SZ, one, sizeof(one));
        } else if (device.Key == KeyKind::OtherSetting) {
            ::RegSetValueExW(key, L"WapiSupport", 0, REG_DWORD, seven, sizeof(seven));
        } else if (device.Key == KeyKind::ReadOnly) {
            (void)AllowReadingOnly(key);
        }
        ::RegCloseKey(key);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return true;
}

void Remove()
{
    HDEVINFO set = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        wchar_t id[256] = {};
        if (::SetupDiGetDeviceInstanceIdW(set, &info, id, 256, nullptr) && std::wcsstr(id, INSTANCE) != nullptr) {
            ::SetupDiRemoveDevice(set, &info);
        }
    }
    ::SetupDiDestroyDeviceInfoList(set);
    for (const TestDevice& device : Devices()) {
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, (CLASS_KEY + device.Driver).c_str());
    }
}

int differences = 0;

void Differ(const std::string& what)
{
    std::printf("differs: %s\n", what.c_str());
    ++differences;
}

// One property read straight from SetupAPI, the last error cleared first.
simulator::Property DirectRead(HDEVINFO set, SP_DEVINFO_DATA* info, DWORD code)
{
    simulator::Property property;
    std::vector<BYTE> buffer(4096);
    DWORD size = 0;
    ::SetLastError(0);
    if (::SetupDiGetDeviceRegistryPropertyW(set, info, code, nullptr, buffer.data(), 4096, &size)) {
        property.Readable = true;
        property.Bytes.assign(buffer.begin(), buffer.begin() + size);
    } else {
        property.Error = ::GetLastError();
    }
    return property;
}

const simulator::Key* KeyOf(const simulator::Machine& machine, const std::wstring& path)
{
    std::u16string wanted(path.begin(), path.end());
    for (const simulator::Key& key : machine.Registry) {
        if (simulator::SameRegistryName(key.Path, wanted)) {
            return &key;
        }
    }
    return nullptr;
}

int Check(const char* file)
{
    simulator::MachineFile snapshot;
    std::string error;
    if (!simulator::LoadMachineFile(file, &snapshot, &error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    const simulator::Machine& machine = snapshot.Loaded;
    HDEVINFO set = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    DWORD index = 0;
    for (; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        std::string device = "device " + std::to_string(index);
        if (index >= machine.Devices.size()) {
            Differ(device + " is missing");
            continue;
        }
        const simulator::Device& taken = machine.Devices[index];
        ULONG status = 0;
        ULONG problem = 0;
        CONFIGRET result = ::CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0);
        if (result != taken.StatusResult ||
            (result == CR_SUCCESS && (status != taken.Status || problem != taken.Problem))) {
            Differ(device + ": status");
        }
        for (int slot = 0; slot < simulator::PROPERTY_SLOTS; ++slot) {
            simulator::Property direct = DirectRead(set, &info, simulator::PROPERTY_KINDS[slot].Code);
            const simulator::Property& saved = taken.Properties[slot];
            if (direct.Readable != saved.Readable || direct.Bytes != saved.Bytes ||
                (!direct.Readable && direct.Error != saved.Error)) {
                Differ(device + ": " + simulator::PROPERTY_KINDS[slot].Member);
            }
        }
    }
    ::SetupDiDestroyDeviceInfoList(set);
    if (index != machine.Devices.size()) {
        Differ("the number of devices");
    }
    // The test's driver keys: there or not, their setting, their access.
    for (const TestDevice& device : Devices()) {
        const simulator::Key* key = KeyOf(machine, CLASS_KEY + device.Driver);
        std::string name =
            "the driver key " + simulator::Utf16ToUtf8(std::u16string(device.Driver.begin(), device.Driver.end()));
        if ((key != nullptr) != (device.Key != KeyKind::None)) {
            Differ("whether " + name + " exists");
            continue;
        }
        if (key == nullptr) {
            continue;
        }
        HKEY opened = nullptr;
        std::vector<std::pair<std::u16string, simulator::Value>> setting;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (CLASS_KEY + device.Driver).c_str(), 0, KEY_READ, &opened) == 0) {
            BYTE data[64];
            DWORD size = sizeof(data);
            DWORD type = 0;
            if (::RegQueryValueExW(opened, L"WapiSupport", nullptr, &type, data, &size) == 0) {
                setting.emplace_back(u"WapiSupport",
                                     simulator::Value{type, std::vector<std::uint8_t>(data, data + size)});
            }
            ::RegCloseKey(opened);
        }
        if (key->Values != setting) {
            Differ("the setting in " + name);
        }
        if (key->DenyFullAccess != (device.Key == KeyKind::ReadOnly)) {
            Differ("the access to " + name);
        }
    }
    if (!machine.Elevated) {
        Differ("elevation: Wine runs programs elevated");
    }
    std::printf("%d devices compared, %d differences\n", static_cast<int>(index), differences);
    return differences == 0 ? 0 : 1;
}

int Run(int argc, char** argv)
{
    std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "register") {
        Remove();
        return Register() ? 0 : 1;
    }
    if (mode == "remove") {
        Remove();
        return 0;
    }
    if (mode == "check" && argc == 3) {
        return Check(argv[2]);
    }
    std::printf("usage: preflight_devices register | check FILE | remove\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& problem) {
        std::printf("preflight_devices: %s\n", problem.what());
        return 1;
    }
}
