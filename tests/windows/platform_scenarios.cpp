// Prints one line per scenario: what the platform answered. Run once over the
// simulated platform and once over Wine's, the two outputs must be the same.
//
// Where Wine and the simulator are known to differ, the line says so only
// when each answers as recorded below; any other answer is printed as it is,
// and the outputs differ.
#include "tests/windows/platform_scenarios.h"

#include <cstdio>
#include <cstring>
#include <string>

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
// texts code unit by code unit, Windows and Wine linguistically ("Net" sorts
// after "net" there, before it here).
struct Comparison {
    const WCHAR* First;
    const WCHAR* Second;
    const char* Name;
};
const Comparison COMPARISONS[] = {
    {u"Net", u"Net", "Net"},
    {u"PCI", u"PCI", "PCI"},
    {u"USB", u"USB", "USB"},
    {u"Net", u"NET", "letter case"},
    {u"usb", u"USB", "letter case, lower"},
    {u"Net", u"Net ", "a trailing space"},
    {u"Net", u"Ne", "shorter"},
    {u"PCI", u"PC\u0399", "Greek capital iota for I"},
    {u"Net", u"", "empty"},
    {u"Net", u"Net\u00AD", "a soft hyphen"},
    {u"Net", u"N\u200Bet", "a zero-width space"},
};

// A difference recorded between the simulator and Wine: the scenario's name
// and each platform's answer.
struct KnownDifference {
    const char* Scenario;
    const char* Wine;
    const char* Simulator;
    const char* Why;
};
const KnownDifference KNOWN_DIFFERENCES[] = {
    {"lstrcmpW a soft hyphen", "equal", "differ",
     "Windows' and Wine's linguistic comparison ignore code points of no weight; the simulator compares code "
     "units, which is safe for the tool: the class and bus names it compares are system names of plain ASCII, "
     "for which both agree, and the outcome for other texts is left open"},
};

// Prints one scenario's answer, or that it differs as recorded.
void Report(const std::string& scenario, const std::string& answer)
{
    for (const KnownDifference& known : KNOWN_DIFFERENCES) {
        if (scenario == known.Scenario) {
            const char* mine = ScenarioPlatformIsSimulated() ? known.Simulator : known.Wine;
            if (answer == mine) {
                std::printf("%s: differs as recorded (Wine %s, simulator %s)\n", scenario.c_str(), known.Wine,
                            known.Simulator);
                return;
            }
        }
    }
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

// Opens a subkey of the scenarios' key with full access.
LSTATUS OpenSubkey(const WCHAR* subkey, HKEY* key)
{
    std::u16string path = std::u16string(SCENARIO_KEY) + u"\\" + subkey;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key);
}

// Sets a REG_SZ value from data of which size bytes are passed, then reads
// back what was stored.
void SetText(const WCHAR* subkey, const char* name, const std::vector<BYTE>& data, DWORD size)
{
    HKEY key = nullptr;
    LSTATUS opened = OpenSubkey(subkey, &key);
    LSTATUS set = opened == 0 ? RegSetValueExW(key, u"v", 0, REG_SZ, data.data(), size) : -1;
    if (opened == 0) {
        RegCloseKey(key);
    }
    DWORD type = 0;
    std::vector<std::uint8_t> stored;
    bool found = ReadScenarioValue(subkey, u"v", &type, &stored);
    Report(std::string("RegSetValueExW ") + name,
           "open=" + std::to_string(opened) + " set=" + std::to_string(set) +
               (found ? " stored type " + std::to_string(type) + ": " + Hex(stored) : " nothing stored"));
}

// Names a key and a value one way and reaches them another; each scenario
// under its own number.
void SameName(const WCHAR* made, const WCHAR* asked, const char* name)
{
    static int scenario = 0;
    std::u16string number = u"case ";
    number += static_cast<char16_t>(u'a' + scenario++);
    std::u16string subkey = number + u" " + made;
    MakeScenarioSubkey(subkey.c_str());
    HKEY key = nullptr;
    LSTATUS opened = OpenSubkey((number + u" " + asked).c_str(), &key);
    if (opened == 0) {
        RegCloseKey(key);
    }
    std::string answer = "key " + std::string(opened == 0 ? "found" : "not found");
    if (OpenSubkey(subkey.c_str(), &key) == 0) {
        const BYTE data[] = {1, 0, 0, 0};
        RegSetValueExW(key, made, 0, 4, data, 4);
        answer += RegDeleteValueW(key, asked) == 0 ? ", value found" : ", value not found";
        RegDeleteValueW(key, made);
        RegCloseKey(key);
    }
    Report(std::string("registry name ") + name, answer);
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

    // The registry stores a text's terminator too when the code unit after
    // the size given is zero.
    MakeScenarioSubkey(u"text");
    SetText(u"text", "size 2, then a zero", {0x31, 0, 0, 0}, 2);
    SetText(u"text", "size 2, then a non-zero", {0x31, 0, 0xFF, 0xFF}, 2);
    SetText(u"text", "size 4 with its terminator", {0x31, 0, 0, 0}, 4);
    // An odd size: the code unit looked at is the one holding bytes 2 and 3.
    SetText(u"text", "odd size 3, then a zero", {0x31, 0, 0, 0, 0x77, 0x77}, 3);
    SetText(u"text", "odd size 3, then a non-zero", {0x31, 0, 0x32, 0, 0, 0}, 3);
    SetText(u"text", "size 0", {0, 0}, 0);
    HKEY key = nullptr;
    if (OpenSubkey(u"text", &key) == 0) {
        Report("RegSetValueExW no data, size 2", std::to_string(RegSetValueExW(key, u"v", 0, REG_SZ, nullptr, 2)));
        RegDeleteValueW(key, u"v");
        Report("RegDeleteValueW a missing value", std::to_string(RegDeleteValueW(key, u"v")));
        RegCloseKey(key);
    }

    // The tool's names are ASCII; beyond it the simulator does not fold
    // letter case (docs/simulator.md).
    SameName(u"Wapi", u"WAPI", "in ASCII capitals");

    CloseScenarioPlatform();
    return 0;
}
