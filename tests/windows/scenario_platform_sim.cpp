// The scenarios' devices and keys on the simulated platform.
#include <algorithm>

#include "platform/sim/simulator.h"
#include "tests/windows/platform_scenarios.h"

namespace {

simulator::Machine ScenarioMachine()
{
    simulator::Machine machine;
    machine.Devices.resize(SCENARIO_DEVICES);
    const std::vector<std::uint8_t> descriptions[SCENARIO_DEVICES] = {
        simulator::TextBytes(u"Corvane AX210 Wireless"), {'N', 0, 'e', 0, 't', 0, 'x'}, {0, 0}, {}};
    for (int i = 0; i < SCENARIO_DEVICES; ++i) {
        machine.Devices[i].Properties[simulator::SLOT_DESCRIPTION].Readable = true;
        machine.Devices[i].Properties[simulator::SLOT_DESCRIPTION].Bytes = descriptions[i];
    }
    simulator::Key key;
    key.Path = SCENARIO_KEY;
    machine.Registry.push_back(key);
    return machine;
}

} // namespace

bool OpenScenarioPlatform(ScenarioDevices* devices)
{
    platform::UseOperations(&simulator::PlatformOperations());
    simulator::Install(ScenarioMachine());
    devices->Set =
        platform::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT | platform::DIGCF_ALLCLASSES);
    for (platform::DWORD i = 0; i < SCENARIO_DEVICES; ++i) {
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

void CloseScenarioPlatform() {}

void SetLastErrorForScenario(platform::DWORD error)
{
    simulator::SetLastError(error);
}

bool ReadScenarioValue(const platform::WCHAR* name, platform::DWORD* type, std::vector<std::uint8_t>* data)
{
    const simulator::Key& key = simulator::Current().Registry.front(); // the machine's only key
    auto found = std::find_if(key.Values.begin(), key.Values.end(),
                              [name](const auto& value) { return simulator::SameRegistryName(value.first, name); });
    if (found == key.Values.end()) {
        return false;
    }
    *type = found->second.Type;
    *data = found->second.Data;
    return true;
}
