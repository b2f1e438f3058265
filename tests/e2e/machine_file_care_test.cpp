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

#if !defined(_WIN32)
// One adapter that /a edits, so that the run writes the file back.
const std::string MACHINE = AdapterMachineText();

ProgramResult RunOn(const fs::path& machine, const fs::path& folder)
{
    return RunTessary({"/a"}, machine.string(), "", folder.string());
}
#endif

TEST_F(EndToEnd, InputsThatAreNoMachineFileStopTheRunAndStayUntouched)
{
    fs::create_directories(Path("folder.json"));
    struct Case {
        const char* file;
        std::string text;
        const char* problem;
    } cases[] = {
        // Nested 10,000 deep where a text belongs: refused where it opens,
        // not built (nor written back) level by level.
        {"deep.json", "{\"devices\": [], \"comment\": " + std::string(10000, '[') + std::string(10000, ']') + "}",
         "': at /comment: expected a text, found an array"},
        {"spaces.json", "{\"devices\": [" + std::string(5000000, ' ') + "!",
         "': line 1, column 5000014: not valid JSON"},
        {"bytes.json", "{\"devices\": [{\"description\": \"\xFF\x01\"}]}",
         "': line 1, column 31: not valid JSON: syntax error while parsing value - invalid string: ill-formed "
         "UTF-8 byte, near '{\"devices\": [{\"description\": \"\\xFF'"},
        {"folder.json", "", "': is a directory, not a machine file"},
        {"absent.json", "", "': cannot be read"},
    };
    for (const Case& c : cases) {
        if (!c.text.empty()) {
            WriteFile(Path(c.file), c.text);
        }
        ProgramResult result = RunTessary({"/a"}, Path(c.file).string(), Path("trace.txt").string(), folder_.string());
        EXPECT_EQ(result.Status, 2) << c.file;
        EXPECT_EQ(result.Output, "") << c.file;
        EXPECT_NE(result.Errors.find("machine file '" + Path(c.file).string() + c.problem), std::string::npos)
            << result.Errors.substr(0, 2000);
        EXPECT_LT(result.Errors.size(), 1000u) << c.file;
        if (!c.text.empty()) {
            EXPECT_EQ(ReadFile(Path(c.file)), c.text) << c.file;
        }
        EXPECT_FALSE(fs::exists(Path("trace.txt"))) << c.file;
    }
#if !defined(_WIN32)
    ProgramResult device = RunOn("/dev/null", folder_);
    EXPECT_EQ(device.Status, 2);
    EXPECT_NE(device.Errors.find("'/dev/null': is not a regular file"), std::string::npos) << device.Errors;
    // A name that is no UTF-8 (overlong, a surrogate's encoding, past
    // U+10FFFF) is shown with those bytes as \xNN, the rest as it is.
    ProgramResult odd = RunOn(Path("\xE0\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80\xC3\xA9.json"), folder_);
    EXPECT_NE(odd.Errors.find("/\\xE0\\x80\\xAF\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80\xC3\xA9.json': cannot be read"),
              std::string::npos)
        << odd.Errors;
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

TEST_F(EndToEnd, WritingBackKeepsTheFileAsTheUserHadIt)
{
    // Written through a symbolic link, which stays: its target keeps its
    // permissions, whatever they are, and its owner and group (where the
    // process may keep them), and no temporary file stays beside it.
    fs::create_directories(Path("real"));
    fs::path target = Path("real/target.json");
    fs::create_symlink("real/target.json", Path("link.json"));
    bool root = geteuid() == 0;
    for (mode_t mode : {0600, 0640, 0664}) {
        WriteFile(target, MACHINE);
        ASSERT_EQ(chmod(target.c_str(), mode), 0);
        ASSERT_TRUE(!root || chown(target.c_str(), 4321, 4322) == 0);
        EXPECT_TRUE(Clean(RunOn(Path("link.json"), folder_)));
        EXPECT_TRUE(fs::is_symlink(Path("link.json")));
        EXPECT_NE(ReadFile(target).find("WapiSupport"), std::string::npos);
        struct stat status = {};
        ASSERT_EQ(stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, mode);
        EXPECT_TRUE(!root || (status.st_uid == 4321u && status.st_gid == 4322u));
        EXPECT_EQ(Names(Path("real")), (std::vector<std::string>{"target.json"}));
    }
    // A trace through a link to a file not made yet is made where it leads.
    fs::create_symlink("real/trace.txt", Path("to-trace.txt"));
    EXPECT_TRUE(Clean(RunTessary({"/d"}, target.string(), Path("to-trace.txt").string(), folder_.string())));
    EXPECT_TRUE(fs::is_symlink(Path("to-trace.txt")));
    EXPECT_NE(ReadFile(Path("real/trace.txt")).find("SetupDiGetClassDevsW"), std::string::npos);
    // A name near the longest a file may have (255 bytes), of characters of
    // two bytes: the file beside it that takes the changes first has a name
    // the system takes too.
    std::string name;
    while (name.size() < 240) {
        name += "\xc3\xa9";
    }
    fs::path longName = Path(name + ".json");
    WriteFile(longName, MACHINE);
    EXPECT_TRUE(Clean(RunOn(longName, folder_)));
    EXPECT_NE(ReadFile(longName).find("WapiSupport"), std::string::npos);
}

TEST_F(EndToEnd, WritingBackKeepsTheLayoutOfTheWholeFile)
{
    // Tabs and CR LF, and a file on one line without a final line end: /a
    // writes the value in the file's layout, and /d gives the file back.
    nlohmann::ordered_json document = nlohmann::ordered_json::parse(AdapterMachineText());
    std::string tabs;
    for (char c : document.dump(1, '\t') + "\n") {
        tabs += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    std::string oneLine = document.dump();
    for (const std::string& text : {tabs, oneLine}) {
        fs::path machine = Path("machine.json");
        WriteFile(machine, text);
        EXPECT_TRUE(Clean(RunOn(machine, folder_)));
        std::string added = ReadFile(machine);
        std::string value = text == tabs
                                ? "{\r\n\t\t\t\t\t\"type\": 1,\r\n\t\t\t\t\t\"data\": \"31 00\"\r\n\t\t\t\t}\r\n"
                                : "\"values\":{\"WapiSupport\":{\"type\":1,\"data\":\"31 00\"}}}}}";
        EXPECT_NE(added.find(value), std::string::npos) << added;
        EXPECT_TRUE(Clean(RunTessary({"/d"}, machine.string(), "", folder_.string())));
        EXPECT_EQ(ReadFile(machine), text);
    }
    // A blank line before a document on one line leaves it on one line.
    WriteFile(Path("after-blank.json"), "\n" + oneLine);
    EXPECT_TRUE(Clean(RunOn(Path("after-blank.json"), folder_)));
    EXPECT_EQ(ReadFile(Path("after-blank.json")).find('\n'), std::string::npos);
}

TEST_F(EndToEnd, FilesTheRunCouldNotWriteAsTheUserWantsAreRefusedBeforeIt)
{
    // The trace as the machine file itself, by its name, through a symbolic
    // link and through a hard link; in a folder that is not there; read-only;
    // a link in a loop; and a machine file with a second name, or read-only.
    WriteFile(Path("machine.json"), MACHINE);
    fs::create_symlink("machine.json", Path("link.json"));
    WriteFile(Path("other.json"), MACHINE);
    fs::create_hard_link(Path("other.json"), Path("other-name.json"));
    fs::create_symlink("loop.txt", Path("loop.txt"));
    WriteFile(Path("read-only.txt"), "an old trace");
    ASSERT_EQ(chmod(Path("read-only.txt").c_str(), 0444), 0);
    WriteFile(Path("read-only.json"), MACHINE);
    ASSERT_EQ(chmod(Path("read-only.json").c_str(), 0444), 0);
    const std::string tooLong(256, 't'); // renamed to only after the run
    struct Case {
        const char* machine;
        const char* trace;
        const char* problem;
    } cases[] = {
        {"machine.json", "machine.json", "trace file '{}machine.json': is the machine file"},
        {"machine.json", "link.json", "trace file '{}link.json': is the machine file"},
        {"other.json", "other-name.json", "trace file '{}other-name.json': is the machine file"},
        {"machine.json", "missing/trace.txt",
         "trace file '{}missing/trace.txt': its folder '{}missing' does not exist"},
        {"machine.json", "read-only.txt", "trace file '{}read-only.txt': is read-only"},
        {"machine.json", "loop.txt", "trace file '{}loop.txt': is a symbolic link that cannot be followed"},
        {"machine.json", tooLong.c_str(), "': its name is longer than the 255 bytes"},
        {"other.json", "", "machine file '{}other.json': has 2 names (hard links)"},
        {"read-only.json", "", "machine file '{}read-only.json': is read-only"},
    };
    for (const Case& c : cases) {
        std::string trace = Path(*c.trace != 0 ? c.trace : "trace.txt").string();
        ProgramResult result = RunTessary({"/a"}, Path(c.machine).string(), trace, folder_.string());
        EXPECT_EQ(result.Status, 2) << c.trace;
        EXPECT_EQ(result.Output, "") << c.trace;
        std::string problem = c.problem;
        for (std::size_t at = problem.find("{}"); at != std::string::npos; at = problem.find("{}")) {
            problem.replace(at, 2, folder_.string() + "/");
        }
        EXPECT_NE(result.Errors.find(problem), std::string::npos) << result.Errors;
        EXPECT_EQ(ReadFile(Path(c.machine)), MACHINE) << c.trace;
    }
    EXPECT_EQ(ReadFile(Path("read-only.txt")), "an old trace");
    EXPECT_TRUE(fs::is_symlink(Path("loop.txt")));
    EXPECT_EQ(fs::status(Path("read-only.json")).permissions(), fs::perms(0444));
    EXPECT_FALSE(fs::exists(Path("missing")));
    EXPECT_FALSE(fs::exists(Path("trace.txt")));
    // A trace over one of the project's own files, here the demo machine's
    // source, even by a roundabout name.
    std::string demo = ReadFile(TESSARY_DEMO_MACHINE);
    fs::create_symlink(fs::path(TESSARY_DEMO_MACHINE).parent_path(), Path("sources"));
    ProgramResult result =
        RunTessary({"/a"}, "", Path("sources/../machine_file/demo_machine.json").string(), folder_.string());
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Errors.find("is one of the project's own files"), std::string::npos) << result.Errors;
    EXPECT_EQ(ReadFile(TESSARY_DEMO_MACHINE), demo);
    // Nor does the run write its changes into one.
    result = RunTessary({"/a"}, Path("sources/demo_machine.json").string(), "", folder_.string());
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Errors.find("which the run would write its changes into"), std::string::npos) << result.Errors;
    EXPECT_EQ(ReadFile(TESSARY_DEMO_MACHINE), demo);
    // The deployment's log, appended to while it runs, is neither the
    // machine file (by any name), nor the trace (even one not made yet), nor
    // a source.
    // The trace not made yet, by its name in the current folder, and through
    // a link that leads to it.
    fs::create_symlink("trace.txt", Path("to-trace.txt"));
    WriteFile(Path("hard.log"), "");
    fs::create_hard_link(Path("hard.log"), Path("hard-too.log"));
    auto quoted = [this](const char* name) { return "log file '" + Path(name).string() + "': "; };
    struct LogCase {
        std::string log;
        std::string problem;
    } logs[] = {
        {Path("machine.json").string(), quoted("machine.json") + "is the machine file"},
        {Path("link.json").string(), quoted("link.json") + "is the machine file"},
        {Path("trace.txt").string(), quoted("trace.txt") + "is the trace file"},
        {"trace.txt", "log file 'trace.txt': is the trace file"},
        {Path("to-trace.txt").string(), quoted("to-trace.txt") + "is the trace file"},
        {Path("sources/demo_machine.json").string(), "which the log would be appended to"},
        {Path("hard.log").string(), quoted("hard.log") + "has 2 names (hard links)"},
    };
    // Back in the folder it started in however the loop ends, for the tests
    // after it.
    struct InFolder {
        explicit InFolder(const fs::path& folder) { fs::current_path(folder); }
        ~InFolder() { fs::current_path(started); }
        fs::path started = fs::current_path();
    } inFolder(folder_);
    for (const LogCase& c : logs) {
        ASSERT_EQ(setenv("TESSARY_SIM_LOG", c.log.c_str(), 1), 0);
        result = RunProgram(TESSARY_DEPLOY_EXE, {"/a"}, Path("machine.json").string(), Path("trace.txt").string(),
                            folder_.string());
        ASSERT_EQ(unsetenv("TESSARY_SIM_LOG"), 0);
        EXPECT_EQ(result.Status, 2) << c.log;
        EXPECT_EQ(result.Output, "") << c.log;
        EXPECT_NE(result.Errors.find(c.problem), std::string::npos) << result.Errors;
        EXPECT_EQ(ReadFile(Path("machine.json")), MACHINE) << c.log;
        EXPECT_FALSE(fs::exists(Path("trace.txt"))) << c.log;
    }
    EXPECT_EQ(ReadFile(TESSARY_DEMO_MACHINE), demo);
}

#endif

} // namespace
