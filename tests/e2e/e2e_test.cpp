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

} // namespace
