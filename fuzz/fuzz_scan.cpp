// Fuzzes one whole scan over a simulated machine built from the input (see
// fuzzed_machine.h). Beyond the sanitizers, it checks from the call trace
// what the tool must never do. (The registry changes only through the calls
// checked here, so no other value can change.)
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/adapter_scan.h"
#include "fuzz/fuzzed_machine.h"
#include "platform/sim/simulator.h"
#include "setting/driver_setting.h"

namespace {

using fuzzing::Fail;
using simulator::Device;

const std::u16string PREFIX = DRIVER_KEY_PREFIX;

std::uint64_t Number(const std::string& text)
{
    return text.empty() || text[0] < '0' || text[0] > '9' ? 0 : std::stoull(text);
}

// The scan's run, as ScanWirelessAdapters makes it, with each restart's
// answer kept: a false one is what the scan reports as a failed restart.
struct ScanRun {
    SettingAction Action;
    std::vector<bool> Reported; // by member index
};

void EditAndRestartNoting(DeviceRef device, const platform::SP_DEVINFO_DATA* /*deviceInfo*/,
                          const platform::WCHAR* driverKeyName, void* context)
{
    auto* run = static_cast<ScanRun*>(context);
    if (!EditAndRestartAdapter(run->Action, device, driverKeyName) && device.Index < run->Reported.size()) {
        run->Reported[device.Index] = true;
    }
}

// True when the device's driver key name, as the scan holds it, is too long
// for a key path: the editor refuses it before opening anything.
bool NameTooLong(const simulator::Machine& machine, std::int64_t index)
{
    return index >= 0 && index < static_cast<std::int64_t>(machine.Devices.size()) &&
           simulator::TextIn(machine.Devices[index].Properties[simulator::SLOT_DRIVER].Bytes).size() > 220;
}

void CheckTrace(const simulator::Machine& before, SettingAction action, const std::vector<bool>& reported)
{
    const simulator::Machine& after = simulator::Current();
    if (!simulator::Violations().empty()) {
        Fail(simulator::Violations()[0]);
    }
    const std::size_t callLimit = 200 * (before.Devices.size() + 1);
    if (simulator::Trace().size() > callLimit) {
        Fail("the walk made more calls than its devices can need");
    }
    std::int64_t current = -1; // the member index the scan is at
    std::int64_t edited = -1;  // the last index whose driver setting was edited
    bool localFreeFailed = false;
    for (const simulator::Call& call : simulator::Trace()) {
        const std::string& operation = call.Operation;
        if (operation == "SetupDiEnumDeviceInfo") {
            current = static_cast<std::int64_t>(Number(call.Argument("index")));
        } else if (operation == "SetupDiGetDeviceRegistryPropertyW") {
            std::string block = call.Argument("block");
            std::uint64_t size = Number(call.Argument("size"));
            if ((block == "null" && size != 0) || (block != "null" && size > Number(block))) {
                Fail("a property read passed a size beyond its block: " + call.Line());
            }
        } else if (operation == "RegOpenKeyExW") {
            if (current < 0 || current >= static_cast<std::int64_t>(before.Devices.size())) {
                Fail("a key was opened outside the walk");
            }
            std::u16string name = simulator::TextIn(before.Devices[current].Properties[simulator::SLOT_DRIVER].Bytes);
            if (name.size() > 220 || call.Argument("path") != simulator::QuoteText(PREFIX + name)) {
                Fail("the key opened is not the prefix and the device's whole driver key name: " + call.Line());
            }
            edited = current;
        } else if (operation == "SetupDiSetClassInstallParamsW" || operation == "SetupDiCallClassInstaller") {
            if (edited != current && !NameTooLong(before, current)) {
                Fail("an adapter was restarted before its setting was edited: " + call.Line());
            }
        } else if (operation == "RegSetValueExW" || operation == "RegDeleteValueW") {
            if (call.Argument("name") != "\"WapiSupport\"") {
                Fail("a value other than the setting was changed: " + call.Line());
            }
            if (operation == "RegSetValueExW" &&
                (action != SettingAction::Add || call.Argument("type") != "1" || call.Argument("data") != "\"31 00\"" ||
                 call.Argument("size") != "2")) {
                Fail("the setting was not written as the two bytes of \"1\": " + call.Line());
            }
            if (operation == "RegDeleteValueW" && action != SettingAction::Delete) {
                Fail("the setting was deleted by Add");
            }
        } else if (operation == "LocalFree" && call.Result("result") == "failed") {
            localFreeFailed = true;
        }
    }
    // An adapter the run leaves disabled, now or at the next boot, is one it
    // reported; but for one whose driver ignores the enable, which the class
    // installer answers for as for any other.
    for (std::size_t i = 0; i < before.Devices.size(); ++i) {
        const Device& was = before.Devices[i];
        const Device& now = after.Devices[i];
        bool disabled = (now.Status & platform::DN_HAS_PROBLEM) != 0 && now.Problem == platform::CM_PROB_DISABLED;
        bool wasDisabled = (was.Status & platform::DN_HAS_PROBLEM) != 0 && was.Problem == platform::CM_PROB_DISABLED;
        if (((disabled && !wasDisabled) || (now.PendingDisable && !was.PendingDisable)) && !reported[i] &&
            was.OnStateChange != simulator::Reaction::Stuck) {
            Fail("device " + std::to_string(i) + " was left disabled without a word");
        }
    }
    for (const std::string& open : simulator::OpenResources()) {
        if (open.rfind("memory block", 0) != 0 || !localFreeFailed) {
            Fail("left open: " + open);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    platform::UseOperations(&simulator::PlatformOperations());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    SettingAction action = input.ConsumeBool() ? SettingAction::Delete : SettingAction::Add;
    simulator::Machine machine = fuzzing::MakeMachine(input);
    simulator::Install(machine);
    ScanRun run{action, std::vector<bool>(machine.Devices.size(), false)};
    (void)EnumWirelessAdapters(EditAndRestartNoting, &run);
    CheckTrace(machine, action, run.Reported);
    return 0;
}
