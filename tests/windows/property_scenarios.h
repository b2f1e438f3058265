// Property-read scenarios run against both the simulated platform and a real
// one, so that their answers can be compared.
#pragma once

#include "platform/platform.h"

// Device 0 has the description "Corvane AX210 Wireless" (terminated);
// device 1 has a description of the seven unterminated bytes "N\0e\0t\0x".
// Neither has a driver key name.
struct ScenarioDevices {
    platform::HDEVINFO Set;
    platform::SP_DEVINFO_DATA Info[2];
};

// Provided by each platform's own file.
bool OpenScenarioDevices(ScenarioDevices* devices);
void CloseScenarioDevices(ScenarioDevices* devices);
void SetLastErrorForScenario(platform::DWORD error);
