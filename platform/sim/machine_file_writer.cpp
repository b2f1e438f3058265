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

std::string HexNumber(DWORD value)
{
    char text[16];
    (void)std::snprintf(text, sizeof(text), "0x%X", static_cast<unsigned>(value));
    return text;
}

// A property as a text when its bytes are exactly one well-formed text and
// its terminator, as raw bytes otherwise, or as the error of its read.
ordered_json PropertyDocument(const Property& property)
{
    if (!property.Readable) {
        return ordered_json{{"error", property.Error}};
    }
    const std::vector<std::uint8_t>& bytes = property.Bytes;
    if (bytes.size() >= 2 && bytes.size() % 2 == 0) {
        std::u16string text;
        for (std::size_t i = 0; i + 2 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
        std::string utf8 = Utf16ToUtf8(text);
        if (text.find(u'\0') == std::u16string::npos && TextBytes(Utf8ToUtf16(utf8)) == bytes) {
            return utf8;
        }
    }
    return ordered_json{{"bytes", HexBytes(bytes)}};
}

ordered_json DeviceDocument(const Device& device)
{
    ordered_json document = ordered_json::object();
    if (device.StatusResult != platform::CR_SUCCESS) {
        document["statusError"] = HexNumber(device.StatusResult);
    }
    document["status"] = HexNumber(device.Status);
    document["problem"] = device.Problem;
    for (int slot = 0; slot < PROPERTY_SLOTS; ++slot) {
        document[PROPERTY_KINDS[slot].Member] = PropertyDocument(device.Properties[slot]);
    }
    for (const ReactionName& reaction : REACTION_NAMES) {
        if (reaction.Kind == device.OnStateChange && reaction.Kind != Reaction::Adapter) {
            document["reaction"] = reaction.Name;
        }
    }
    if (device.PendingDisable) {
        document["pendingDisable"] = true;
    }
    return document;
}

ordered_json KeyDocument(const Key& key)
{
    ordered_json document = ordered_json::object();
    if (key.DenyFullAccess) {
        document["denyFullAccess"] = true;
    }
    ordered_json values = ordered_json::object();
    for (const auto& value : key.Values) {
        values[Utf16ToUtf8(value.first)] =
            ordered_json{{"type", value.second.Type}, {"data", HexBytes(value.second.Data)}};
    }
    document["values"] = values;
    return document;
}

} // namespace

ordered_json MachineDocument(const Machine& machine, const std::string& comment)
{
    ordered_json document = ordered_json::object();
    if (!comment.empty()) {
        document["comment"] = comment;
    }
    document["elevated"] = machine.Elevated;
    ordered_json devices = ordered_json::array();
    for (const Device& device : machine.Devices) {
        devices.push_back(DeviceDocument(device));
    }
    document["devices"] = devices;
    ordered_json registry = ordered_json::object();
    for (const Key& key : machine.Registry) {
        registry[Utf16ToUtf8(key.Path)] = KeyDocument(key);
    }
    document["registry"] = registry;
    return document;
}

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
