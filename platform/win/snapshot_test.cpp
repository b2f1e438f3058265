// The snapshot code running over the simulated platform: a snapshot of a
// machine holds its devices, properties and driver keys as the machine has
// them, and replaying the tool on it prints what the tool prints on the
// machine itself.
#include "platform/win/snapshot.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/command_dispatch.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/simulator.h"
#include "platform/win/preflight.h"
#include "tests/support/sim_test_support.h"

namespace {

using simulator::Machine;

// The machines the tests use: the demo machine, the fuzzers' seed machine
// files, and one with what the demo lacks. Reactions and faults are left
// out: a snapshot cannot know them.
std::vector<std::pair<std::string, Machine>> TestMachines()
{
    std::vector<std::pair<std::string, Machine>> machines;
    simulator::MachineFile file;
    std::string error;
    EXPECT_TRUE(simulator::LoadMachineText(simulator::DemoMachineText(), "demo", &file, &error)) << error;
    machines.emplace_back("demo", file.Loaded);
    for (const auto& entry : std::filesystem::directory_iterator(TESSARY_SOURCE_DIR "/fuzz/corpus/machine_file")) {
        if (simulator::LoadMachineFile(entry.path().string(), &file, &error)) {
            machines.emplace_back(entry.path().filename().string(), file.Loaded);
        }
    }
    Machine odd;
    odd.Elevated = false;
    simulator::Device longer = testsupport::NetDevice("Corvane " + std::string(300, 'x') + " Wireless", "USB", "0007");
    longer.Properties[simulator::SLOT_CLASS] = testsupport::BytesProperty({'N', 0, 'e', 0, 't', 0, 'x'});
    simulator::Device failing = testsupport::NetDevice("Corvane Wireless", "PCI", "0008");
    failing.StatusResult = 0xD;
    simulator::Device denied = testsupport::NetDevice("Corvane Wi-Fi", "PCI", "0009");
    simulator::Device keyless = testsupport::NetDevice("Corvane Wi-Fi", "PCI", "0010");
    keyless.Properties[simulator::SLOT_ENUMERATOR] = simulator::Property{};
    keyless.Properties[simulator::SLOT_ENUMERATOR].Error = 0; // as Wine leaves the bus's name
    odd.Devices = {longer, failing, denied, keyless};
    for (const char* instance : {"0007", "0008", "0009"}) {
        odd.Registry.push_back(testsupport::DriverKey(std::string(testsupport::NET_CLASS_KEY) + "\\" + instance));
    }
    odd.Registry[0].Values.emplace_back(u"WapiSupport", simulator::Value{4, {1, 0, 0, 0}});
    odd.Registry[2].DenyFullAccess = true;
    machines.emplace_back("odd", odd);
    for (auto& machine : machines) {
        machine.second.Faults.clear();
        for (simulator::Device& device : machine.second.Devices) {
            device.OnStateChange = simulator::Reaction::Adapter;
            device.PendingDisable = false;
        }
    }
    return machines;
}

// The key of a path in a machine, or null.
const simulator::Key* KeyOf(const Machine& machine, const std::u16string& path)
{
    for (const simulator::Key& key : machine.Registry) {
        if (simulator::SameRegistryName(key.Path, path)) {
            return &key;
        }
    }
    return nullptr;
}

TEST(TakeSnapshot, HoldsTheMachinesDevicesPropertiesAndDriverKeys)
{
    for (const auto& [name, machine] : TestMachines()) {
        simulator::Install(machine);
        Machine snapshot;
        std::string error;
        ASSERT_TRUE(TakeSnapshot(&snapshot, &error)) << name << ": " << error;
        EXPECT_TRUE(simulator::OpenResources().empty()) << name;
        EXPECT_EQ(snapshot.Elevated, machine.Elevated) << name;
        ASSERT_EQ(snapshot.Devices.size(), machine.Devices.size()) << name;
        for (std::size_t i = 0; i < machine.Devices.size(); ++i) {
            const simulator::Device& was = machine.Devices[i];
            const simulator::Device& is = snapshot.Devices[i];
            EXPECT_EQ(is.StatusResult, was.StatusResult) << name << " " << i;
            if (was.StatusResult == platform::CR_SUCCESS) {
                EXPECT_EQ(is.Status, was.Status) << name << " " << i;
                EXPECT_EQ(is.Problem, was.Problem) << name << " " << i;
            }
            for (int slot = 0; slot < simulator::PROPERTY_SLOTS; ++slot) {
                const simulator::Property& property = was.Properties[slot];
                EXPECT_EQ(is.Properties[slot].Readable, property.Readable) << name << " " << i << " " << slot;
                EXPECT_EQ(is.Properties[slot].Bytes, property.Bytes) << name << " " << i << " " << slot;
                if (!property.Readable) {
                    EXPECT_EQ(is.Properties[slot].Error, property.Error) << name << " " << i << " " << slot;
                }
            }
        }
        // Each device's driver key, as far as the tool can meet it.
        for (const simulator::Device& device : machine.Devices) {
            const simulator::Property& driver = device.Properties[simulator::SLOT_DRIVER];
            if (!driver.Readable || driver.Bytes.size() < 4) {
                continue;
            }
            std::u16string path =
                DRIVER_CLASS_KEY +
                std::u16string(reinterpret_cast<const char16_t*>(driver.Bytes.data()), driver.Bytes.size() / 2 - 1);
            const simulator::Key* was = KeyOf(machine, path);
            const simulator::Key* is = KeyOf(snapshot, path);
            ASSERT_EQ(is != nullptr, was != nullptr) << name << " " << simulator::Utf16ToUtf8(path);
            if (was != nullptr) {
                EXPECT_EQ(is->DenyFullAccess, was->DenyFullAccess || !machine.Elevated) << name;
                std::vector<std::pair<std::u16string, simulator::Value>> setting;
                for (const auto& value : was->Values) {
                    if (simulator::SameRegistryName(value.first, u"WapiSupport")) {
                        setting.push_back(value);
                    }
                }
                EXPECT_EQ(is->Values, setting) << name;
            }
        }
    }
}

TEST(ReplayTool, PrintsWhatTheToolPrintsOnTheMachineAndReportsTheChanges)
{
    for (const char16_t* command : {u"/a", u"/d"}) {
        const platform::WCHAR* argv[] = {u"tessary", command, nullptr};
        for (const auto& [name, machine] : TestMachines()) {
            simulator::Install(machine);
            (void)TessaryMain(2, argv);
            // A copy: installing the snapshot below starts a new output.
            std::string direct = simulator::Output(); // NOLINT(performance-unnecessary-copy-initialization)
            simulator::Install(machine);
            Machine snapshot;
            std::string error;
            ASSERT_TRUE(TakeSnapshot(&snapshot, &error)) << error;
            EXPECT_EQ(ReplayTool(snapshot, 2, argv).ToolOutput, direct) << name;
        }
    }

    const platform::WCHAR* add[] = {u"tessary", u"/a", nullptr};
    simulator::Install(TestMachines().front().second); // the demo machine
    Machine demo;
    std::string error;
    ASSERT_TRUE(TakeSnapshot(&demo, &error));
    std::string changes = ReplayTool(demo, 2, add).Changes;
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\";
    EXPECT_NE(changes.find("react as adapters do"), std::string::npos) << changes;
    EXPECT_NE(changes.find(key + "0001: WapiSupport none -> REG_SZ (31 00)\n"), std::string::npos) << changes;
    EXPECT_NE(changes.find(key + "0005: WapiSupport none -> REG_SZ (31 00)\n"), std::string::npos) << changes;
    EXPECT_NE(changes.find("device 2, Corvane AX210 Wireless Network Adapter "
                           "({4d36e972-e325-11ce-bfc1-08002be10318}\\0001): disabled, then enabled\n"),
              std::string::npos)
        << changes;
    EXPECT_EQ(changes.find("not elevated"), std::string::npos) << changes;

    demo.Elevated = false;
    changes = ReplayTool(demo, 2, add).Changes;
    EXPECT_NE(changes.find("not elevated"), std::string::npos) << changes;
    EXPECT_NE(changes.find("disabled (refused)"), std::string::npos) << changes;
    EXPECT_EQ(changes.find("WapiSupport none ->"), std::string::npos) << changes;
}

} // namespace
