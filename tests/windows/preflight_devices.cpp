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

std::u16string KeyPath(const TestDevice& device)
{
    std::wstring path = CLASS_KEY + device.Driver;
    return std::u16string(path.begin(), path.end());
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

// The machine as Wine answers it: every present device, and the test's
// driver keys with their setting and whether they are closed to full access.
simulator::Machine DirectMachine()
{
    simulator::Machine machine;
    HDEVINFO set = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        simulator::Device device;
        ULONG status = 0;
        ULONG problem = 0;
        device.StatusResult = ::CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0);
        device.Status = device.StatusResult == CR_SUCCESS ? status : device.Status;
        device.Problem = device.StatusResult == CR_SUCCESS ? problem : device.Problem;
        for (int slot = 0; slot < simulator::PROPERTY_SLOTS; ++slot) {
            device.Properties[slot] = DirectRead(set, &info, simulator::PROPERTY_KINDS[slot].Code);
        }
        WCHAR id[512] = {};
        if (::SetupDiGetDeviceInstanceIdW(set, &info, id, 512, nullptr)) {
            device.InstanceId = reinterpret_cast<const char16_t*>(id);
        }
        machine.Devices.push_back(device);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    for (const TestDevice& device : Devices()) {
        HKEY opened = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (CLASS_KEY + device.Driver).c_str(), 0, KEY_READ, &opened) != 0) {
            continue;
        }
        simulator::Key key;
        key.Path = KeyPath(device);
        // As Wine answers it: whether this process may open the key for
        // full access, which the snapshot records.
        HKEY full = nullptr;
        key.DenyFullAccess =
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (CLASS_KEY + device.Driver).c_str(), 0, KEY_ALL_ACCESS, &full) != 0;
        if (full != nullptr) {
            ::RegCloseKey(full);
        }
        BYTE data[64];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (::RegQueryValueExW(opened, L"WapiSupport", nullptr, &type, data, &size) == 0) {
            key.Values.emplace_back(u"WapiSupport",
                                    simulator::Value{type, std::vector<std::uint8_t>(data, data + size)});
        }
        ::RegCloseKey(opened);
        machine.Registry.push_back(key);
    }
    return machine;
}

// Compares the snapshot in the file, its registry narrowed to the test's
// driver keys, with the machine as Wine answers it; a difference shows both.
int Check(const char* file)
{
    simulator::MachineFile snapshot;
    std::string error;
    if (!simulator::LoadMachineFile(file, &snapshot, &error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    simulator::Machine saved = snapshot.Loaded;
    simulator::Machine direct = DirectMachine();
    saved.Registry.clear();
    for (const TestDevice& device : Devices()) {
        for (const simulator::Key& key : snapshot.Loaded.Registry) {
            if (simulator::SameRegistryName(key.Path, KeyPath(device))) {
                saved.Registry.push_back(key);
            }
        }
    }
    std::string is = simulator::MachineDocument(saved, "").dump(1);
    std::string answered = simulator::MachineDocument(direct, "").dump(1);
    std::printf("%d devices compared\n", static_cast<int>(direct.Devices.size()));
    if (is != answered) {
        std::printf("the snapshot:\n%s\nWine's answers:\n%s\n", is.c_str(), answered.c_str());
        return 1;
    }
    return 0;
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
