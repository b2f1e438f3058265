// Scenarios run against both the simulated platform and a real one (Wine's),
// so that their answers can be compared line for line: property reads,
// lstrcmpW on the texts the tool compares, and the registry operations.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

// Device 0 has the description "Corvane AX210 Wireless" (terminated);
// device 1 a description of the seven unterminated bytes "N\0e\0t\0x";
// device 2 an empty description (its terminator alone); device 3 a
// description of no bytes at all. None has a driver key name.
constexpr int SCENARIO_DEVICES = 4;
struct ScenarioDevices {
    platform::HDEVINFO Set;
    platform::SP_DEVINFO_DATA Info[SCENARIO_DEVICES];
};

// The registry key the scenarios use, below the local machine root; made
// empty by OpenScenarioPlatform.
inline constexpr platform::WCHAR SCENARIO_KEY[] = u"SOFTWARE\\TessaryScenarios";

// Provided by each platform's own file.
// Makes the devices and SCENARIO_KEY, empty, and opens a set of the devices.
bool OpenScenarioPlatform(ScenarioDevices* devices);
void CloseScenarioDevices(ScenarioDevices* devices);
// Removes SCENARIO_KEY and what it holds.
void CloseScenarioPlatform();
void SetLastErrorForScenario(platform::DWORD error);
// Reads a value of SCENARIO_KEY; false when it is missing.
bool ReadScenarioValue(const platform::WCHAR* name, platform::DWORD* type, std::vector<std::uint8_t>* data);
