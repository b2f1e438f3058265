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
    // The built-in demo machine, then a copy of its file, which the runs change.
    const std::string adapters = KEY + "0001\n" + KEY + "0005\n";
    ProgramResult demo = RunTessary({"/a"}, "", "", folder_.string());
    EXPECT_TRUE(Clean(demo));
    EXPECT_EQ(demo.Output, BANNER + "Command: Add WapiSupport\n" + adapters);
    fs::path machine = Path("machine.json");
    fs::copy_file(TESSARY_DEMO_MACHINE, machine);
    json before = json::parse(ReadFile(machine));
    ProgramResult add = RunTessary({"/a"}, machine.string(), Path("add.txt").string(), folder_.string());
    EXPECT_TRUE(Clean(add));
    EXPECT_EQ(add.Output, BANNER + "Command: Add WapiSupport\n" + adapters);
    json added = json::parse(ReadFile(machine));
    std::string pci = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001";
    EXPECT_EQ(added["registry"][pci]["values"]["WapiSupport"], json({{"type", 1}, {"data", "31 00"}}));
    EXPECT_EQ(added["devices"], before["devices"]); // both adapters enabled again

    ProgramResult remove = RunTessary({"/delete"}, machine.string(), "", folder_.string());
    EXPECT_TRUE(Clean(remove));
    EXPECT_EQ(remove.Output, BANNER + "Command: Delete WapiSupport\n" + adapters);
    EXPECT_EQ(json::parse(ReadFile(machine)), before);
}

// A deployment killed at the class installer's first enable, as a timeout or a
// power loss would: the machine file keeps the adapter disabled and the
// journal's entry; the next run enables it again and clears the entry.
TEST_F(EndToEnd, AKilledDeploymentLeavesItsJournalInTheMachineFileForTheNextRun)
{
    simulator::Machine machine = testsupport::MachineOf({testsupport::NetDevice("Corvane Wireless")});
    machine.Faults = {testsupport::KillAt(simulator::Operation::SetupDiCallClassInstaller, 0)};
    machine.Faults[0].StateChange = 1;
    fs::path file = Path("machine.json");
    WriteFile(file, MachineText(machine));
    ProgramResult killed =
        RunProgram(TESSARY_DEPLOY_EXE, {"/a"}, file.string(), Path("killed.txt").string(), folder_.string());
    EXPECT_EQ(killed.Status, 137);
    // The trace is written, and ends at the call the kill stopped.
    std::string trace = ReadFile(Path("killed.txt"));
    std::string last = trace.substr(trace.rfind('\n', trace.size() - 2) + 1);
    EXPECT_EQ(last.rfind("SetupDiCallClassInstaller ", 0), 0u) << trace;
    EXPECT_NE(last.find("killed=1"), std::string::npos) << trace;
    EXPECT_NE(killed.Errors.find("tessary-deploy (simulated platform): killed at SetupDiCallClassInstaller"),
              std::string::npos)
        << killed.Errors;
    json left = json::parse(ReadFile(file));

    left.erase("faults");
    WriteFile(file, left.dump(2) + "\n");
    ProgramResult next = RunProgram(TESSARY_DEPLOY_EXE, {"/a"}, file.string(), "", folder_.string());
    EXPECT_EQ(next.Status, 0) << next.Errors;
    EXPECT_NE(next.Errors.find("  recovery: {4d36e972-e325-11ce-bfc1-08002be10318}\\0001 (ROOT\\SIMULATED\\0000), "
                               "left by an interrupted run: disabled; enabled again, its entry is cleared\n"),
              std::string::npos)
        << next.Errors; // the log, on standard error
    EXPECT_EQ(next.Output.substr(next.Output.rfind("tessary-deploy:")),
              "tessary-deploy: 0, success: 1 adapter left disabled by an interrupted run enabled again; every "
              "adapter was already as wanted.\n");
    json recovered = json::parse(ReadFile(file));
    EXPECT_EQ(recovered["devices"][0]["problem"], 0);
    EXPECT_FALSE(recovered["registry"]["SOFTWARE\\Tessary\\Restarting"].contains("values"));
}

} // namespace
