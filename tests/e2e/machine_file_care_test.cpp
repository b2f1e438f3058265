// End-to-end tests of how the simulated platform treats the user's machine
// file: kept as the user had it, refused clearly when it cannot be used.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace e2e;

// One adapter that /a edits, so that the run writes the file back.
const char* const MACHINE = R"({
  "devices": [
    {"class": "Net", "enumerator": "PCI", "driver": "{4d36e972-e325-11ce-bfc1-08002be10318}\\0001",
     "description": "Corvane Wireless"}
  ],
  "registry": {"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001": {}}
})";

ProgramResult RunOn(const fs::path& machine, const fs::path& folder)
{
    return RunTessary({"/a"}, machine.string(), "", folder.string());
}

TEST_F(EndToEnd, InputsThatAreNoMachineFileAreRefusedForWhatTheyAre)
{
    fs::create_directories(Path("folder.json"));
    WriteFile(Path("twice.json"), R"({"devices": [{"class": "Net", "description": "a", "description": "b"}]})");
    std::string spaces = "{\"devices\": [" + std::string(5000000, ' ') + "!";
    WriteFile(Path("spaces.json"), spaces);
    WriteFile(Path("bytes.json"), "{\"devices\": [{\"description\": \"\xFF\x01\"}]}");
    struct Case {
        const char* file;
        const char* problem;
    } cases[] = {
        {"folder.json", "': is a directory, not a machine file"},
        {"twice.json", "': at /devices/0/description: the member is named twice"},
        {"spaces.json", "': line 1, column 5000014: not valid JSON"},
        {"bytes.json", "near '{\"devices\": [{\"description\": \"\\xFF'"},
    };
    for (const Case& c : cases) {
        ProgramResult result = RunOn(Path(c.file), folder_);
        EXPECT_EQ(result.Status, 2) << c.file;
        EXPECT_EQ(result.Output, "") << c.file;
        EXPECT_NE(result.Errors.find(c.problem), std::string::npos) << result.Errors.substr(0, 2000);
        EXPECT_LT(result.Errors.size(), 1000u) << c.file;
    }
    EXPECT_EQ(ReadFile(Path("spaces.json")), spaces);
#if !defined(_WIN32)
    ProgramResult device = RunOn("/dev/null", folder_);
    EXPECT_EQ(device.Status, 2);
    EXPECT_NE(device.Errors.find("'/dev/null': is not a regular file"), std::string::npos) << device.Errors;
#endif
}

#if !defined(_WIN32)
// The names in a folder, to show that no temporary file stays behind.
std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t Mode(const fs::path& path)
{
    struct stat status = {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

TEST_F(EndToEnd, WritingBackKeepsTheFileAsTheUserHadIt)
{
    // The permissions, whatever they are.
    for (mode_t mode : {0600, 0640, 0664, 0644}) {
        fs::path machine = Path("machine.json");
        WriteFile(machine, MACHINE);
        ASSERT_EQ(chmod(machine.c_str(), mode), 0);
        ProgramResult result = RunOn(machine, folder_);
        EXPECT_EQ(result.Status, 0) << result.Errors;
        EXPECT_NE(ReadFile(machine).find("WapiSupport"), std::string::npos);
        EXPECT_EQ(Mode(machine), mode);
        EXPECT_EQ(Names(folder_), (std::vector<std::string>{"machine.json", "stderr.txt", "stdout.txt"}));
    }

    // A symbolic link is written through: the link stays, its target changes.
    fs::create_directories(Path("real"));
    WriteFile(Path("real/target.json"), MACHINE);
    fs::create_symlink("real/target.json", Path("link.json"));
    EXPECT_EQ(RunOn(Path("link.json"), folder_).Status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.json")));
    EXPECT_NE(ReadFile(Path("real/target.json")).find("WapiSupport"), std::string::npos);
    EXPECT_EQ(Names(Path("real")), (std::vector<std::string>{"target.json"}));

    // Owner and group, where the process may keep them.
    if (geteuid() == 0) {
        fs::path owned = Path("owned.json");
        WriteFile(owned, MACHINE);
        ASSERT_EQ(chown(owned.c_str(), 4321, 4322), 0);
        EXPECT_EQ(RunOn(owned, folder_).Status, 0);
        struct stat status = {};
        ASSERT_EQ(stat(owned.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 4321u);
        EXPECT_EQ(status.st_gid, 4322u);
    }
}

TEST_F(EndToEnd, AReadOnlyFileIsRefusedBeforeTheRunAndStaysUntouched)
{
    fs::path machine = Path("machine.json");
    WriteFile(machine, MACHINE);
    ASSERT_EQ(chmod(machine.c_str(), 0444), 0);
    ProgramResult result = RunTessary({"/a"}, machine.string(), Path("trace.txt").string(), folder_.string());
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Output, "");
    EXPECT_NE(result.Errors.find("machine file '" + machine.string() + "': is read-only"), std::string::npos)
        << result.Errors;
    EXPECT_EQ(ReadFile(machine), MACHINE);
    EXPECT_EQ(Mode(machine), 0444u);
    EXPECT_FALSE(fs::exists(Path("trace.txt")));
}
#endif

} // namespace
