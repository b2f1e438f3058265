// End-to-end tests: run the built tessary on machine files and check its
// standard output byte for byte, its exit status and the machine file after.
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_fixture.h"

namespace {

using namespace e2e;
using nlohmann::json;

TEST_F(EndToEnd, TheDemoMachineAddsToItsTwoAdapters)
{
    ProgramResult result = RunTessary({"/a"}, "", Path("trace.txt").string(), folder_.string());
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Output, BANNER + "Command: Add WapiSupport\n" + KEY + "0001\n" + KEY + "0005\n");
    EXPECT_EQ(result.Errors, "");

    result = RunTessary({}, "", "", folder_.string());
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Output, BANNER + "Please use /a or /d argument\n");
}

TEST_F(EndToEnd, AddThenDeleteLeavesTheRegistryAsItWas)
{
    fs::path machine = Path("machine.json");
    fs::copy_file(TESSARY_DEMO_MACHINE, machine);
    json before = json::parse(ReadFile(machine));

    ProgramResult add = RunTessary({"/a"}, machine.string(), Path("add.txt").string(), folder_.string());
    EXPECT_EQ(add.Status, 0);
    EXPECT_EQ(add.Errors, "");
    json added = json::parse(ReadFile(machine));
    std::string pci = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001";
    EXPECT_EQ(added["registry"][pci]["values"]["WapiSupport"], json({{"type", 1}, {"data", "31 00"}}));
    EXPECT_EQ(added["devices"], before["devices"]); // both adapters enabled again

    ProgramResult remove = RunTessary({"/delete"}, machine.string(), "", folder_.string());
    EXPECT_EQ(remove.Output, BANNER + "Command: Delete WapiSupport\n" + KEY + "0001\n" + KEY + "0005\n");
    EXPECT_EQ(json::parse(ReadFile(machine)), before);

    // For each adapter: the edit, then state change 2 and then 1, each after
    // two stores of the parameters, scope 1 then scope 2.
    std::istringstream trace(ReadFile(Path("add.txt")));
    std::string steps;
    for (std::string line; std::getline(trace, line);) {
        auto has = [&line](const char* text) { return line.find(text) != std::string::npos; };
        if (has("RegSetValueExW")) {
            steps += "edit ";
        } else if (line.rfind("SetupDiSetClassInstallParamsW", 0) == 0) {
            steps += std::string("store") + (has("stateChange=2") ? "2" : "1") + (has("scope=1") ? "g " : "c ");
        } else if (line.rfind("SetupDiCallClassInstaller", 0) == 0) {
            steps += std::string("call") + (has("stateChange=2") ? "2 " : "1 ");
        }
    }
    std::string adapter = "edit store2g store2c call2 store1g store1c call1 ";
    EXPECT_EQ(steps, adapter + adapter);
}

TEST_F(EndToEnd, DeviceStatesChangedByARunPersist)
{
    fs::path machine = Path("machine.json");
    simulator::Device adapter = testsupport::NetDevice("Corvane Wireless", "USB");
    adapter.OnStateChange = simulator::Reaction::NeedReboot;
    simulator::Fault enabling = testsupport::Failing(simulator::Operation::SetupDiCallClassInstaller, 0xE0000219);
    enabling.StateChange = 1;
    simulator::Machine keyless = testsupport::MachineOf({adapter}, {enabling});
    keyless.Registry.clear(); // the edit cannot open a key
    WriteFile(machine, MachineText(keyless));
    ProgramResult result = RunTessary({"/a"}, machine.string(), "", folder_.string());
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Output, BANNER + "Command: Add WapiSupport\n" + KEY + "0001\nERROR: Open registry error!!\n" +
                                 "Need Restart Computer\n" +
                                 "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n" +
                                 "DisableEnableDevice FAILED\n");
    json after = json::parse(ReadFile(machine));
    EXPECT_EQ(after["devices"][0]["problem"], 22);
    EXPECT_EQ(after["devices"][0]["status"], "0x1802402");

    // The adapter is disabled now, so a second run passes over it.
    result = RunTessary({"/a"}, machine.string(), "", folder_.string());
    EXPECT_EQ(result.Output, BANNER + "Command: Add WapiSupport\n");
}

TEST_F(EndToEnd, ADisableThatWaitsForTheNextBootIsCancelled)
{
    fs::path machine = Path("machine.json");
    simulator::Device adapter = testsupport::NetDevice("Corvane Wireless", "USB");
    adapter.OnStateChange = simulator::Reaction::Vetoed;
    WriteFile(machine, MachineText(testsupport::MachineOf({adapter})));
    ProgramResult result = RunTessary({"/a"}, machine.string(), Path("trace.txt").string(), folder_.string());
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Output, BANNER + "Command: Add WapiSupport\n" + KEY + "0001\n" + "Need Restart Computer\n" +
                                 "Need Restart Computer\n");
    json after = json::parse(ReadFile(machine));
    EXPECT_FALSE(after["devices"][0].contains("pendingDisable")) << after.dump();
    std::string calls;
    std::istringstream trace(ReadFile(Path("trace.txt")));
    for (std::string line; std::getline(trace, line);) {
        if (line.rfind("SetupDiCallClassInstaller", 0) == 0) {
            calls += line.substr(line.find("stateChange="), 13) + " ";
        }
    }
    EXPECT_EQ(calls, "stateChange=2 stateChange=1 ");
}

TEST_F(EndToEnd, AStandardUserChangesNothing)
{
    fs::path machine = Path("machine.json");
    json demo = json::parse(ReadFile(TESSARY_DEMO_MACHINE));
    demo["elevated"] = false;
    WriteFile(machine, demo.dump(2));
    std::string before = ReadFile(machine);
    ProgramResult result = RunTessary({"/a"}, machine.string(), "", folder_.string());
    EXPECT_EQ(result.Status, 0);
    std::string refused = "ERROR: Open registry error!!\n"
                          "SetupDiSetClassInstallParams or SetupDiCallClassInstaller FAILED\n";
    EXPECT_EQ(result.Output,
              BANNER + "Command: Add WapiSupport\n" + KEY + "0001\n" + refused + KEY + "0005\n" + refused);
    EXPECT_EQ(result.Errors, "");
    EXPECT_EQ(ReadFile(machine), before);
}

} // namespace
