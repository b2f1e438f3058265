// The scenario devices on the simulated platform.
#include "platform/sim/simulator.h"
#include "tests/windows/property_scenarios.h"

bool OpenScenarioDevices(ScenarioDevices* devices)
{
    simulator::Machine machine;
    machine.Devices.resize(2);
    machine.Devices[0].Properties[simulator::SLOT_DESCRIPTION].Readable = true;
    machine.Devices[0].Properties[simulator::SLOT_DESCRIPTION].Bytes = simulator::TextBytes(u"Corvane AX210 Wireless");
    machine.Devices[1].Properties[simulator::SLOT_DESCRIPTION].Readable = true;
    machine.Devices[1].Properties[simulator::SLOT_DESCRIPTION].Bytes = {'N', 0, 'e', 0, 't', 0, 'x'};
    simulator::Install(machine);
    devices->Set =
        platform::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT | platform::DIGCF_ALLCLASSES);
    for (platform::DWORD i = 0; i < 2; ++i) {
        devices->Info[i].cbSize = sizeof(platform::SP_DEVINFO_DATA);
        if (!platform::SetupDiEnumDeviceInfo(devices->Set, i, &devices->Info[i])) {
            return false;
        }
    }
    return true;
}

void CloseScenarioDevices(ScenarioDevices* devices)
{
    platform::SetupDiDestroyDeviceInfoList(devices->Set);
}

void SetLastErrorForScenario(platform::DWORD error)
{
    simulator::SetLastError(error);
}
