// Writing a run's changes back into a machine file.
#include <cstdio>
#include <iomanip>
#include <ostream>

#include "platform/sim/json_document.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/machine_file_format.h"
#include "platform/sim/sim_files.h"

namespace simulator {

namespace {

// A number written back in the form the file used for it.
ordered_json NumberLike(const ordered_json& original, DWORD value)
{
    if (original.is_string()) {
        char text[16];
        (void)std::snprintf(text, sizeof(text), "0x%X", static_cast<unsigned>(value));
        return text;
    }
    return value;
}

} // namespace

bool UpdateDocument(ordered_json* document, const Machine& machine)
{
    bool changed = false;
    ordered_json& devices = (*document)["devices"];
    for (std::size_t i = 0; i < machine.Devices.size() && i < devices.size(); ++i) {
        // The state the file gave the device, read again from the document.
        ordered_json& device = devices[i];
        Device before = ReadDeviceState(device, "");
        const Device& now = machine.Devices[i];
        if (now.Status != before.Status) {
            device["status"] =
                NumberLike(device.contains("status") ? device["status"] : ordered_json("0x0"), now.Status);
            changed = true;
        }
        if (now.Problem != before.Problem) {
            device["problem"] =
                NumberLike(device.contains("problem") ? device["problem"] : ordered_json(0), now.Problem);
            changed = true;
        }
        // A pending disable shows only while there is one.
        if (now.PendingDisable != before.PendingDisable) {
            if (now.PendingDisable) {
                device["pendingDisable"] = true;
            } else {
                device.erase("pendingDisable");
            }
            changed = true;
        }
    }
    if (!document->contains("registry")) {
        return changed;
    }
    std::size_t keyIndex = 0;
    for (const auto& member : (*document)["registry"].items()) {
        if (keyIndex >= machine.Registry.size()) {
            break;
        }
        const Key& now = machine.Registry[keyIndex++];
        Key before = ReadKey(member.key(), member.value(), "");
        if (now.Values == before.Values) {
            continue;
        }
        // Values the run left as they were keep the form the file gave them.
        ordered_json oldValues = member.value().contains("values") ? member.value()["values"] : ordered_json::object();
        ordered_json values = ordered_json::object();
        for (const auto& value : now.Values) {
            std::string name = Utf16ToUtf8(value.first);
            bool kept = false;
            for (std::size_t k = 0; k < before.Values.size() && !kept; ++k) {
                if (before.Values[k].first == value.first && before.Values[k].second == value.second) {
                    values[name] = oldValues[name];
                    kept = true;
                }
            }
            if (!kept) {
                values[name] = ordered_json{{"type", value.second.Type}, {"data", HexBytes(value.second.Data)}};
            }
        }
        member.value()["values"] = values;
        changed = true;
    }
    return changed;
}

bool SaveMachineFile(MachineFile* file, const Machine& machine, std::string* error)
{
    if (!UpdateDocument(&file->Document, machine)) {
        return true;
    }
    // Written as it is serialised: no second copy of the machine in memory.
    auto write = [file](std::ostream& out) {
        out << std::setw(2) << file->Document << "\n";
        return static_cast<bool>(out);
    };
    if (!ReplaceFileAtomically(file->Path, write, error)) {
        *error = "machine file '" + Shown(file->Path, 200) + "': the run's changes were not saved: " + *error;
        return false;
    }
    return true;
}

} // namespace simulator
