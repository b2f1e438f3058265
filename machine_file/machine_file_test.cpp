#include "machine_file/machine_file.h"

#include "machine_file/files.h"
#include "machine_file/format.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using simulator::MachineFile;

std::string LoadError(const std::string& text)
{
    MachineFile file;
    std::string error;
    EXPECT_FALSE(simulator::LoadMachineText(text, "m.json", &file, &error)) << text;
    return error;
}

TEST(MachineFile, RefusesImpossibleMachinesWithThePlaceAndTheProblem)
{
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"{\"devices\": [}", "machine file 'm.json': line 1, column 14: not valid JSON"},
        {"{\n  \"devices\": [],\n  \"devics\": []\n}", "at /devics: unknown member"},
        {"{\"devices\": [{\"sta\\ntus\": 1}]}", "at /devices/0/sta\\x0Atus: unknown member"},
        {"{}", "at /devices: missing: an array of the present devices"},
        {"{\"devices\": {}}", "at /devices: expected an array of the present devices"},
        {"{\"comment\": [], \"devices\": []}", "at /comment: expected a text, found an array"},
        {"{\"devices\": [{\"problem\": 6e966}]}", "line 1, column 30: not valid JSON: number overflow parsing '6e966'"},
        {"{\"devices\": [{\"status\": \"0xZZ\"}]}", "at /devices/0/status: \"0xZZ\" is not a hexadecimal number"},
        {"{\"devices\": [{\"status\": \"12a\"}]}", "at /devices/0/status: expected a whole number, in decimal"},
        {"{\"devices\": [{\"status\": 4294967296}]}", "at /devices/0/status: the number 4294967296 is larger"},
        {"{\"devices\": [{\"problem\": -1}]}", "at /devices/0/problem: expected a whole number"},
        {"{\"devices\": [{\"statusError\": 0}]}", "at /devices/0/statusError: 0 is CR_SUCCESS"},
        {"{\"devices\": [{}, {\"class\": 7}]}", "at /devices/1/class: expected a text"},
        {"{\"devices\": [{\"driver\": {\"bytes\": \"4e 0\"}}]}", "at /devices/0/driver/bytes: expected pairs"},
        {"{\"devices\": [{\"driver\": {\"error\": 122}}]}", "at /devices/0/driver/error: 122"},
        {"{\"devices\": [{\"reaction\": \"explode\"}]}", "at /devices/0/reaction: expected one of \"adapter\""},
        {"{\"devices\": [{\"pendingDisable\": 1}]}", "at /devices/0/pendingDisable: expected true or false"},
        {"{\"devices\": [], \"elevated\": \"no\"}", "at /elevated: expected true or false"},
        {"{\"devices\": [], \"registry\": {\"A\\\\\\\\B\": {}}}", "at /registry/A\\\\B: a key path"},
        {"{\"devices\": [], \"registry\": {\"A\": {}, \"a\": {}}}", "at /registry/a: the key is named twice"},
        {"{\"devices\": [], \"registry\": {\"A\": {\"values\": {\"v\": {\"type\": 1}}}}}",
         "at /registry/A/values/v/data: missing: a value has both"},
        {"{\"devices\": [], \"faults\": [{\"error\": 1}]}", "at /faults/0/call: missing: the name of an operation"},
        {"{\"devices\": [], \"faults\": [{\"call\": \"lstrcmpW\", \"error\": 1}]}",
         "at /faults/0/call: expected the name"},
        {"{\"devices\": [], \"faults\": [{\"call\": \"RegOpenKeyExW\", \"error\": 0}]}",
         "at /faults/0/error: RegOpenKeyExW answers 0 for success"},
        {"{\"devices\": [], \"faults\": [{\"call\": \"LocalAlloc\", \"device\": 1, \"error\": 8}]}",
         "at /faults/0/device: LocalAlloc does not act on one device"},
        {"{\"devices\": [], \"faults\": [{\"call\": \"SetupDiEnumDeviceInfo\", \"requiredSize\": 4, \"error\": 5}]}",
         "at /faults/0/requiredSize: only a property read"},
        {"{\"devices\": [], \"faults\": [{\"call\": \"LocalFree\", \"error\": 5, \"times\": 0}]}",
         "at /faults/0/times: expected a whole number of at least 1, or \"always\"; found 0"},
    };
    for (const Case& c : cases) {
        std::string error = LoadError(c.text);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(error.rfind("machine file 'm.json': ", 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error; // one line
    }
    // The parser stops at a NUL byte as at the end: what follows would be
    // lost when the machine is written back.
    const char afterNul[] = "{\"devices\": []}\n\0{\"devices\": [{}]}";
    EXPECT_NE(
        LoadError(std::string(afterNul, sizeof(afterNul) - 1)).find("line 2, column 1: not valid JSON: a NUL byte"),
        std::string::npos);
}

TEST(MachineFile, RefusesAValueBeyondTheMostAsItComes)
{
    // Empty devices, the densest file there is, past the most a file holds.
    std::string dense = "{\"devices\": [{}";
    for (std::size_t i = 1; i < simulator::MAX_MACHINE_FILE_VALUES; ++i) {
        dense += ",{}";
    }
    std::string error = LoadError(dense + "]}");
    EXPECT_NE(error.find("at /devices/" + std::to_string(simulator::MAX_MACHINE_FILE_VALUES - 2) + ": more than"),
              std::string::npos)
        << error;
}

TEST(MachineFile, ReadsEveryFormOfTheDescription)
{
    const char* text = R"({
      "devices": [
        {"status": 1024, "problem": "0x16", "class": "Net", "enumerator": {"bytes": "50 00 43"},
         "driver": {"error": 5}, "reaction": "needreboot"},
        {"statusError": "0xD"}
      ],
      "registry": {"K\\Sub": {"denyFullAccess": true,
                               "values": {"t": "1", "b": {"type": 4, "data": "07 00 00 00"}}}},
      "faults": [{"call": "SetupDiGetDeviceRegistryPropertyW", "device": 0, "property": 9, "error": 122,
                  "requiredSize": 0, "times": "always"}]
    })";
    MachineFile file;
    std::string error;
    ASSERT_TRUE(simulator::LoadMachineText(text, "m.json", &file, &error)) << error;
    // Written out again in the plainest form: every number, text and byte
    // read. A property a device leaves out is unreadable (error 13); those are
    // left out here too, so that a new property changes nothing.
    nlohmann::ordered_json written = simulator::MachineDocument(file.Loaded, "");
    for (auto& device : written["devices"]) {
        for (int slot = 0; slot < simulator::PROPERTY_SLOTS; ++slot) {
            if (device[simulator::PROPERTY_KINDS[slot].Member] == nlohmann::ordered_json{{"error", 13}}) {
                device.erase(simulator::PROPERTY_KINDS[slot].Member);
            }
        }
    }
    EXPECT_EQ(written.dump(),
              R"({"elevated":true,"devices":[{"status":"0x400","problem":22,"class":"Net","enumerator":{"bytes":)"
              R"("50 00 43"},"driver":{"error":5},"reaction":"needreboot"},{"statusError":"0xD","status":)"
              R"("0x180200A","problem":0}],"registry":{"K\\Sub":{"denyFullAccess":true,"values":{"t":{"type":1,)"
              R"("data":"31 00 00 00"},"b":{"type":4,"data":"07 00 00 00"}}}},"faults":[{"call":)"
              R"("SetupDiGetDeviceRegistryPropertyW","device":0,"property":9,"error":122,"requiredSize":0,)"
              R"("times":"always"}]})");
}

// A name UTF-8 has no form for would come back as another name, or as a
// member named twice: it is told, not written.
TEST(MachineFile, TellsANameThatNoFileSpells)
{
    simulator::Machine machine;
    machine.Registry.push_back({u"K\\0001", false, false, {{u"WapiSupport", {1, {0x31, 0, 0, 0}}}}});
    machine.Devices.emplace_back();
    machine.Devices.back().InstanceId = u"PCI\\VEN_1";
    EXPECT_EQ(simulator::NameNoFileSpells(machine), "");
    std::u16string lone = u"K\\0002";
    lone.push_back(u'\xD800');
    machine.Registry.push_back({lone, false, false, {}});
    EXPECT_EQ(simulator::NameNoFileSpells(machine), "K\\0002\xEF\xBF\xBD");
    machine.Registry.back().Path = u"K\\0002";
    machine.Registry.front().Values.push_back({std::u16string(1, u'\xDC00'), {1, {}}});
    EXPECT_EQ(simulator::NameNoFileSpells(machine), "K\\0001\\\xEF\xBF\xBD");
    machine.Registry.front().Values.pop_back();
    machine.Devices.back().InstanceId.push_back(u'\xDBFF');
    EXPECT_EQ(simulator::NameNoFileSpells(machine), "PCI\\VEN_1\xEF\xBF\xBD");
}

TEST(MachineFile, WritesBackOnlyWhatChangedInTheFormTheFileUsed)
{
    const char* text = R"({"devices": [{"status": "0x180200A", "comment": "kept"}, {"pendingDisable": true}],
                           "registry": {"K": {"values": {"DriverDesc": "x", "Old": {"type": 4, "data": "01"}}}}})";
    MachineFile file;
    std::string error;
    ASSERT_TRUE(simulator::LoadMachineText(text, "m.json", &file, &error)) << error;
    nlohmann::ordered_json updated = file.Document;
    EXPECT_FALSE(simulator::UpdateDocument(&updated, file.Loaded));
    EXPECT_EQ(updated, file.Document);

    // A pending disable made, and one cancelled, which leaves no trace.
    simulator::Machine changed = file.Loaded;
    changed.Devices[0].Status |= 0x400;
    changed.Devices[0].Problem = 22;
    changed.Devices[0].PendingDisable = true;
    changed.Devices[1].PendingDisable = false;
    changed.Registry[0].Values.erase(changed.Registry[0].Values.begin() + 1);
    changed.Registry[0].Values.emplace_back(u"WapiSupport", simulator::Value{1, {0x31, 0}});
    EXPECT_TRUE(simulator::UpdateDocument(&updated, changed));
    EXPECT_EQ(updated["devices"].dump(),
              R"([{"status":"0x180240A","comment":"kept","problem":22,"pendingDisable":true},{}])");
    EXPECT_EQ(updated["registry"]["K"]["values"].dump(),
              R"({"DriverDesc":"x","WapiSupport":{"type":1,"data":"31 00"}})");
}

#if !defined(_WIN32) // a checkout is built on Linux only
// The project's own files are told apart by asking git, which refuses to
// answer for a checkout another account owns unless told it is safe: the
// run would then write into a tracked file as if it were the user's own.
TEST(MachineFile, TellsTheFilesGitTracksInACheckoutAnotherAccountOwns)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a checkout to another account";
    }
    std::filesystem::path top = std::filesystem::temp_directory_path() / ("tessary-owned-" + std::to_string(getpid()));
    std::filesystem::remove_all(top);
    std::filesystem::create_directories(top);
    std::ofstream(top / "tracked.json") << "{}";
    std::ofstream(top / "own.json") << "{}";
    std::string quoted = "'" + top.string() + "'";
    // Its owner's configuration names a program for git to run: it must not
    // run as whoever runs the simulated program.
    std::ofstream(top / "monitor.sh") << "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran\"\n";
    std::string git = "git -C " + quoted + " ";
    // NOLINTNEXTLINE(cert-env33-c): a fixed command, on a folder this test made
    ASSERT_EQ(std::system((git + "init -q && " + git + "add tracked.json && " + git + "config core.fsmonitor " +
                           quoted + "/monitor.sh && chmod +x " + quoted + "/monitor.sh && chown -R 4242 " + quoted)
                              .c_str()),
              0);
    EXPECT_TRUE(simulator::IsTrackedInCheckout(top.string(), (top / "tracked.json").string()));
    EXPECT_FALSE(simulator::IsTrackedInCheckout(top.string(), (top / "own.json").string()));
    EXPECT_FALSE(std::filesystem::exists(top / "ran"));
    std::filesystem::remove_all(top);
}
#endif

} // namespace
