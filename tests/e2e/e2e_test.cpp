// End-to-end tests: run the built tessary on machine files and check its
// standard output byte for byte, its exit status and the machine file after.
#include <string>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_fixture.h"

namespace {

using namespace e2e;
using nlohmann::json;

TEST_F(EndToEnd, TheDemoMachineAddsToItsTwoAdaptersAndDeleteUndoesIt)
{
    ProgramResult usage = RunTessary({}, "", "", folder_.string());
    EXPECT_EQ(usage.Status, 0);
    EXPECT_EQ(usage.Output, BANNER + "Please use /a or /d argument\n");

    // The built-in demo machine, then a copy of its file, which the runs change.
    const std::string adapters = KEY + "0001\n" + KEY + "0005\n";
    EXPECT_EQ(RunTessary({"/a"}, "", "", folder_.string()).Output, BANNER + "Command: Add WapiSupport\n" + adapters);
    fs::path machine = Path("machine.json");
    fs::copy_file(TESSARY_DEMO_MACHINE, machine);
    json before = json::parse(ReadFile(machine));
    ProgramResult add = RunTessary({"/a"}, machine.string(), Path("add.txt").string(), folder_.string());
    EXPECT_EQ(add.Status, 0);
    EXPECT_EQ(add.Output, BANNER + "Command: Add WapiSupport\n" + adapters);
    EXPECT_EQ(add.Errors, "");
    json added = json::parse(ReadFile(machine));
    std::string pci = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001";
    EXPECT_EQ(added["registry"][pci]["values"]["WapiSupport"], json({{"type", 1}, {"data", "31 00"}}));
    EXPECT_EQ(added["devices"], before["devices"]); // both adapters enabled again
    std::string trace = ReadFile(Path("add.txt"));
    EXPECT_NE(trace.find("\nSetupDiCallClassInstaller "), std::string::npos) << trace;

    ProgramResult remove = RunTessary({"/delete"}, machine.string(), "", folder_.string());
    EXPECT_EQ(remove.Output, BANNER + "Command: Delete WapiSupport\n" + adapters);
    EXPECT_EQ(json::parse(ReadFile(machine)), before);
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
