// Prints one line per property-read scenario: what the call answered, the
// last error it left, and the required size it reported.
#include "tests/windows/property_scenarios.h"

#include <cstdio>
#include <string>

using namespace platform;

namespace {

constexpr DWORD UNTOUCHED = 0xABCD; // a value no call produces by itself

void Run(ScenarioDevices* devices, int device, DWORD property, bool withBuffer, DWORD size)
{
    BYTE buffer[600] = {};
    DWORD required = UNTOUCHED;
    SetLastErrorForScenario(UNTOUCHED);
    BOOL ok = SetupDiGetDeviceRegistryPropertyW(devices->Set, &devices->Info[device], property, nullptr,
                                                withBuffer ? buffer : nullptr, size, &required);
    DWORD error = GetLastError();
    std::printf("device %d property %u %s size %u: ok=%d error=%s required=%s\n", device,
                static_cast<unsigned>(property), withBuffer ? "buffer" : "null", static_cast<unsigned>(size),
                ok != FALSE, error == UNTOUCHED ? "untouched" : std::to_string(error).c_str(),
                required == UNTOUCHED ? "untouched" : std::to_string(required).c_str());
}

} // namespace

int main()
{
    ScenarioDevices devices = {};
    if (!OpenScenarioDevices(&devices)) {
        std::printf("the scenario devices could not be made\n");
        return 1;
    }
    for (int device = 0; device < 2; ++device) {
        for (DWORD property : {SPDRP_DEVICEDESC, SPDRP_DRIVER}) {
            Run(&devices, device, property, false, 0);
            Run(&devices, device, property, true, 4);
            Run(&devices, device, property, true, device == 0 ? 46 : 7);
            Run(&devices, device, property, true, 600);
            Run(&devices, device, property, false, 10);
        }
    }
    CloseScenarioDevices(&devices);
    return 0;
}
