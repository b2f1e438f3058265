// Prints one line per scenario: what the platform answered. Run once over the
// simulated platform and once over Wine's, the two outputs must be the same.
// Only what the tool relies on is asked; docs/simulator.md lists where the two
// are known to differ beyond it.
#include "tests/windows/platform_scenarios.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/inspection.h"

using namespace platform;

namespace {

constexpr DWORD UNTOUCHED = 0xABCD; // a value no call produces by itself

std::string Number(DWORD value)
{
    return value == UNTOUCHED ? "untouched" : std::to_string(value);
}

void PropertyRead(ScenarioDevices* devices, int device, DWORD property, bool withBuffer, DWORD size)
{
    BYTE buffer[600] = {};
    DWORD required = UNTOUCHED;
    SetLastErrorForScenario(UNTOUCHED);
    BOOL ok = SetupDiGetDeviceRegistryPropertyW(devices->Set, &devices->Info[device], property, nullptr,
                                                withBuffer ? buffer : nullptr, size, &required);
    DWORD error = GetLastError();
    std::printf("property read: device %d property %u %s size %u: ok=%d error=%s required=%s\n", device,
                static_cast<unsigned>(property), withBuffer ? "buffer" : "null", static_cast<unsigned>(size),
                ok != FALSE, Number(error).c_str(), Number(required).c_str());
}

// The texts the scan compares with lstrcmpW, and near misses. Only equality
// counts for the tool, so only equality is compared: the simulator orders
// texts code unit by code unit, Windows and Wine linguistically.
struct Comparison {
    const WCHAR* First;
    const WCHAR* Second;
    const char* Name;
};
const Comparison COMPARISONS[] = {
    {u"Net", u"Net", "Net"},         {u"PCI", u"PCI", "PCI"},        {u"USB", u"USB", "USB"},
    {u"Net", u"NET", "letter case"}, {u"usb", u"USB", "lower case"}, {u"Net", u"Net ", "a trailing space"},
    {u"Net", u"Ne", "shorter"},      {u"Net", u"", "empty"},
};

void Report(const std::string& scenario, const std::string& answer)
{
    std::printf("%s: %s\n", scenario.c_str(), answer.c_str());
}

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (std::uint8_t byte : bytes) {
        char digits[4];
        (void)std::snprintf(digits, sizeof(digits), "%02x ", byte);
        text += digits;
    }
    return text;
}

LSTATUS OpenScenarioKey(const WCHAR* path, HKEY* key)
{
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key);
}

// Sets a REG_SZ value from data of which size bytes are passed, then reads
// back what was stored.
void SetText(HKEY key, const char* name, const std::vector<BYTE>& data, DWORD size)
{
    LSTATUS set = RegSetValueExW(key, u"v", 0, REG_SZ, data.data(), size);
    DWORD type = 0;
    std::vector<std::uint8_t> stored;
    bool found = ReadScenarioValue(u"v", &type, &stored);
    Report(std::string("RegSetValueExW ") + name,
           "set=" + std::to_string(set) +
               (found ? " stored type " + std::to_string(type) + ": " + Hex(stored) : " nothing stored"));
}

// Reads the value v as the check and the journal read values: its size with
// no buffer, then into a buffer of size bytes.
void QueryValue(HKEY key, const char* name, bool withBuffer, DWORD size)
{
    BYTE buffer[16] = {};
    DWORD type = UNTOUCHED;
    DWORD room = size;
    LSTATUS status = RegQueryValueExW(key, u"v", nullptr, &type, withBuffer ? buffer : nullptr, &room);
    Report(std::string("RegQueryValueExW ") + name,
           "status=" + std::to_string(status) + " type=" + Number(type) + " size=" + Number(room));
}

// Enumerates the value at index, as the journal is read, with room for
// units code units of its name.
void EnumValue(HKEY key, DWORD index, DWORD units)
{
    WCHAR name[8] = {};
    DWORD room = units;
    LSTATUS status = RegEnumValueW(key, index, name, &room, nullptr, nullptr, nullptr, nullptr);
    Report("RegEnumValueW index " + std::to_string(index) + " room " + std::to_string(units),
           "status=" + std::to_string(status) + (status == 0 ? " units=" + std::to_string(room) : ""));
}

// What a handle may do is what its key was opened for: reading through one
// opened to read, and neither writing through it nor reading through one
// opened to set values.
void UseHandles()
{
    HKEY reading = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SCENARIO_KEY, 0, KEY_READ, &reading) != 0) {
        std::printf("the scenario key cannot be opened to read\n");
        return;
    }
    QueryValue(reading, "with no buffer", false, 0);
    QueryValue(reading, "into 2 bytes", true, 2);
    QueryValue(reading, "into 16 bytes", true, 16);
    Report("RegQueryValueExW a missing value",
           std::to_string(RegQueryValueExW(reading, u"x", nullptr, nullptr, nullptr, nullptr)));
    EnumValue(reading, 0, 8);
    EnumValue(reading, 0, 1);
    EnumValue(reading, 1, 8);
    const BYTE one[] = {0x31, 0, 0, 0};
    Report("RegSetValueExW through a key opened to read",
           std::to_string(RegSetValueExW(reading, u"w", 0, REG_SZ, one, sizeof(one))));
    Report("RegDeleteValueW through a key opened to read", std::to_string(RegDeleteValueW(reading, u"v")));
    RegCloseKey(reading);
    HKEY setting = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SCENARIO_KEY, 0, KEY_SET_VALUE, &setting) != 0) {
        std::printf("the scenario key cannot be opened to set values\n");
        return;
    }
    DWORD size = 0;
    Report("RegQueryValueExW through a key opened to set values",
           std::to_string(RegQueryValueExW(setting, u"v", nullptr, nullptr, nullptr, &size)));
    WCHAR name[8] = {};
    DWORD units = 8;
    Report("RegEnumValueW through a key opened to set values",
           std::to_string(RegEnumValueW(setting, 0, name, &units, nullptr, nullptr, nullptr, nullptr)));
    RegCloseKey(setting);
}

} // namespace

int main()
{
    ScenarioDevices devices = {};
    if (!OpenScenarioPlatform(&devices)) {
        std::printf("the scenario devices and keys could not be made\n");
        return 1;
    }
    for (int device = 0; device < SCENARIO_DEVICES; ++device) {
        for (DWORD property : {SPDRP_DEVICEDESC, SPDRP_DRIVER}) {
            PropertyRead(&devices, device, property, false, 0);
            PropertyRead(&devices, device, property, true, 4);
            PropertyRead(&devices, device, property, true, device == 0 ? 46 : 7);
            PropertyRead(&devices, device, property, true, 600);
            PropertyRead(&devices, device, property, false, 10);
        }
    }
    CloseScenarioDevices(&devices);

    for (const Comparison& comparison : COMPARISONS) {
        Report(std::string("lstrcmpW ") + comparison.Name,
               lstrcmpW(comparison.First, comparison.Second) == 0 ? "equal" : "differ");
    }

    HKEY key = nullptr;
    if (OpenScenarioKey(SCENARIO_KEY, &key) != 0) {
        std::printf("the scenario key cannot be opened\n");
        return 1;
    }
    // The registry stores a text's terminator too when the code unit after
    // the size given is zero.
    SetText(key, "size 2, then a zero", {0x31, 0, 0, 0}, 2);
    SetText(key, "size 2, then a non-zero", {0x31, 0, 0xFF, 0xFF}, 2);
    SetText(key, "size 4 with its terminator", {0x31, 0, 0, 0}, 4);
    UseHandles();
    Report("RegDeleteValueW a value named in capitals", std::to_string(RegDeleteValueW(key, u"V")));
    Report("RegDeleteValueW a missing value", std::to_string(RegDeleteValueW(key, u"v")));
    RegCloseKey(key);
    // Key paths, too, are found whatever the case of their ASCII letters.
    LSTATUS opened = OpenScenarioKey(u"SOFTWARE\\TESSARYSCENARIOS", &key);
    if (opened == 0) {
        RegCloseKey(key);
    }
    Report("RegOpenKeyExW a path in capitals", std::to_string(opened));

    CloseScenarioPlatform();
    return 0;
}
