// Reading machine files: every member checked, every problem reported at its
// JSON pointer.
#include <unordered_set>
#include <utility>

#include "platform/sim/json_document.h"
#include "platform/sim/machine_file.h"
#include "platform/sim/machine_file_format.h"
#include "platform/sim/sim_files.h"

namespace simulator {

namespace {

// A whole number from 0 to maximum: a JSON number, or a text in decimal or
// with "0x" in hexadecimal.
std::uint64_t ReadNumber(const ordered_json& value, const std::string& place, std::uint64_t maximum = 0xFFFFFFFFu)
{
    std::uint64_t number = 0;
    if (value.is_number_unsigned()) {
        number = value.get<std::uint64_t>();
    } else if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        std::size_t start = hex ? 2 : 0;
        if (text.size() <= start || text.size() - start > (hex ? 16 : 19)) {
            throw FileError(place, "expected a whole number, found " + Describe(value));
        }
        for (std::size_t i = start; i < text.size(); ++i) {
            int digit = HexDigit(text[i]);
            if (digit < 0 || digit >= (hex ? 16 : 10)) {
                throw FileError(place, "expected a whole number, found " + Describe(value));
            }
            number = number * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        }
    } else {
        throw FileError(place, "expected a whole number or a \"0x...\" text, found " + Describe(value));
    }
    if (number > maximum) {
        throw FileError(place, "the number " + std::to_string(number) + " is larger than " + std::to_string(maximum));
    }
    return number;
}

std::vector<std::uint8_t> ReadBytes(const ordered_json& value, const std::string& place)
{
    if (!value.is_string()) {
        throw FileError(place, "expected a text of hexadecimal bytes such as \"31 00\", found " + Describe(value));
    }
    std::vector<std::uint8_t> bytes;
    const std::string& text = value.get_ref<const std::string&>();
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || HexDigit(text[i]) < 0 || HexDigit(text[i + 1]) < 0) {
            throw FileError(place, "expected pairs of hexadecimal digits such as \"31 00\"; bad byte at character " +
                                       std::to_string(i + 1));
        }
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
        i += 2;
    }
    return bytes;
}

std::u16string ReadText(const ordered_json& value, const std::string& place)
{
    if (!value.is_string()) {
        throw FileError(place, "expected a text, found " + Describe(value));
    }
    return Utf8ToUtf16(value.get<std::string>());
}

// An optional true or false member of an object.
bool ReadFlag(const ordered_json& object, const char* name, const std::string& place, bool otherwise)
{
    if (!object.contains(name)) {
        return otherwise;
    }
    const ordered_json& value = object[name];
    if (!value.is_boolean()) {
        throw FileError(Child(place, name), "expected true or false, found " + Describe(value));
    }
    return value.get<bool>();
}

Property ReadProperty(const ordered_json& value, const std::string& place)
{
    Property property;
    if (value.is_string()) {
        property.Readable = true;
        property.Bytes = TextBytes(ReadText(value, place));
        return property;
    }
    if (!value.is_object() || value.size() != 1 || (!value.contains("bytes") && !value.contains("error"))) {
        throw FileError(place,
                        "expected a text, {\"bytes\": \"hex bytes\"} or {\"error\": code}, found " + Describe(value));
    }
    if (value.contains("bytes")) {
        property.Readable = true;
        property.Bytes = ReadBytes(value["bytes"], Child(place, "bytes"));
        return property;
    }
    property.Error = static_cast<DWORD>(ReadNumber(value["error"], Child(place, "error")));
    if (property.Error == platform::ERROR_INSUFFICIENT_BUFFER) {
        throw FileError(Child(place, "error"),
                        "122 (ERROR_INSUFFICIENT_BUFFER) is not a reason a property is "
                        "unreadable; use a fault with \"requiredSize\" to make reads ask for room");
    }
    return property;
}

} // namespace

// What a run may change in a device: its status, problem and pending disable.
Device ReadDeviceState(const ordered_json& value, const std::string& place)
{
    Device device;
    if (value.contains("status")) {
        device.Status = static_cast<DWORD>(ReadNumber(value["status"], Child(place, "status")));
    }
    if (value.contains("problem")) {
        device.Problem = static_cast<DWORD>(ReadNumber(value["problem"], Child(place, "problem")));
    }
    device.PendingDisable = ReadFlag(value, "pendingDisable", place, false);
    return device;
}

namespace {

Reaction ReadReaction(const ordered_json& value, const std::string& place)
{
    std::string expected;
    for (const ReactionName& reaction : REACTION_NAMES) {
        if (value.is_string() && value.get_ref<const std::string&>() == reaction.Name) {
            return reaction.Kind;
        }
        expected += std::string(expected.empty() ? "" : ", ") + "\"" + reaction.Name + "\"";
    }
    throw FileError(place, "expected one of " + expected + ", found " + Describe(value));
}

Device ReadDevice(const ordered_json& value, const std::string& place)
{
    std::vector<const char*> members = {"comment", "status", "problem", "statusError"};
    for (const PropertyKind& property : PROPERTY_KINDS) {
        members.push_back(property.Member);
    }
    members.insert(members.end(), {"reaction", "pendingDisable"});
    CheckMembers(value, place, members);
    Device device = ReadDeviceState(value, place);
    if (value.contains("comment") && !value["comment"].is_string()) {
        throw FileError(Child(place, "comment"), "expected a text, found " + Describe(value["comment"]));
    }
    if (value.contains("statusError")) {
        device.StatusResult = static_cast<DWORD>(ReadNumber(value["statusError"], Child(place, "statusError")));
        if (device.StatusResult == platform::CR_SUCCESS) {
            throw FileError(Child(place, "statusError"), "0 is CR_SUCCESS, not an error; leave the member out instead");
        }
    }
    for (int slot = 0; slot < PROPERTY_SLOTS; ++slot) {
        const char* member = PROPERTY_KINDS[slot].Member;
        if (value.contains(member)) {
            device.Properties[slot] = ReadProperty(value[member], Child(place, member));
        }
    }
    if (value.contains("reaction")) {
        device.OnStateChange = ReadReaction(value["reaction"], Child(place, "reaction"));
    }
    return device;
}

Value ReadValue(const ordered_json& value, const std::string& place)
{
    Value result;
    if (value.is_string()) {
        result.Type = platform::REG_SZ;
        result.Data = TextBytes(ReadText(value, place));
        return result;
    }
    CheckMembers(value, place, {"type", "data"});
    if (!value.contains("type") || !value.contains("data")) {
        throw FileError(place, "a value needs both \"type\" and \"data\", or is a text");
    }
    result.Type = static_cast<DWORD>(ReadNumber(value["type"], Child(place, "type")));
    result.Data = ReadBytes(value["data"], Child(place, "data"));
    return result;
}

} // namespace

Key ReadKey(const std::string& path, const ordered_json& value, const std::string& place)
{
    CheckMembers(value, place, {"values", "denyFullAccess"});
    Key key;
    key.Path = Utf8ToUtf16(path);
    if (path.empty() || path.front() == '\\' || path.back() == '\\' || path.find("\\\\") != std::string::npos) {
        throw FileError(place, "a key path names each key below the local machine root once, separated by single "
                               "backslashes, with none at either end");
    }
    key.DenyFullAccess = ReadFlag(value, "denyFullAccess", place, false);
    if (value.contains("values")) {
        const ordered_json& values = value["values"];
        if (!values.is_object()) {
            throw FileError(Child(place, "values"), "expected an object of named values, found " + Describe(values));
        }
        std::unordered_set<std::u16string> names;
        for (const auto& member : values.items()) {
            std::u16string name = Utf8ToUtf16(member.key());
            if (!names.insert(FoldedRegistryName(name.data(), name.size())).second) {
                throw FileError(Child(Child(place, "values"), member.key()),
                                "the value is named twice (value names ignore letter case)");
            }
            key.Values.emplace_back(name, ReadValue(member.value(), Child(Child(place, "values"), member.key())));
        }
    }
    return key;
}

namespace {

Fault ReadFault(const ordered_json& value, const std::string& place)
{
    CheckMembers(value, place, {"call", "nth", "device", "property", "stateChange", "error", "requiredSize", "times"});
    Fault fault;
    if (!value.contains("call") || !value["call"].is_string() ||
        !OperationNamed(value["call"].get<std::string>(), &fault.Call)) {
        std::string names;
        for (const OperationKind& kind : OPERATION_KINDS) {
            names += std::string(names.empty() ? "" : ", ") + kind.Name;
        }
        throw FileError(Child(place, "call"), "expected the name of an operation that can fail: " + names);
    }
    if (value.contains("nth")) {
        fault.Nth = ReadNumber(value["nth"], Child(place, "nth"), 0xFFFFFFFFFFFFull);
        if (fault.Nth == 0) {
            throw FileError(Child(place, "nth"), "calls are counted from 1");
        }
    }
    if (value.contains("device")) {
        fault.Device = static_cast<std::int64_t>(ReadNumber(value["device"], Child(place, "device")));
    }
    if (value.contains("property")) {
        fault.Property = static_cast<std::int64_t>(ReadNumber(value["property"], Child(place, "property")));
    }
    if (value.contains("stateChange")) {
        fault.StateChange = static_cast<std::int64_t>(ReadNumber(value["stateChange"], Child(place, "stateChange")));
    }
    if (!value.contains("error")) {
        throw FileError(place, "a fault needs an \"error\": the last error or code the call answers");
    }
    fault.Error = static_cast<DWORD>(ReadNumber(value["error"], Child(place, "error")));
    if (value.contains("requiredSize")) {
        fault.SetsRequiredSize = true;
        fault.RequiredSize = static_cast<DWORD>(ReadNumber(value["requiredSize"], Child(place, "requiredSize")));
    }
    if (value.contains("times")) {
        const ordered_json& times = value["times"];
        bool always = times.is_string() && times.get_ref<const std::string&>() == "always";
        fault.Times = always ? -1 : static_cast<std::int64_t>(ReadNumber(times, Child(place, "times")));
    }
    FaultProblem problem = ProblemOf(fault);
    if (!problem.Problem.empty()) {
        throw FileError(Child(place, problem.Member), problem.Problem);
    }
    return fault;
}

Machine ReadMachine(const ordered_json& document)
{
    CheckMembers(document, "", {"comment", "elevated", "devices", "registry", "faults"});
    Machine machine;
    machine.Elevated = ReadFlag(document, "elevated", "", true);
    if (!document.contains("devices") || !document["devices"].is_array()) {
        throw FileError("/devices", "expected an array of the present devices, in member-index order");
    }
    for (std::size_t i = 0; i < document["devices"].size(); ++i) {
        machine.Devices.push_back(ReadDevice(document["devices"][i], Child("/devices", i)));
    }
    if (document.contains("registry")) {
        const ordered_json& registry = document["registry"];
        if (!registry.is_object()) {
            throw FileError("/registry", "expected an object of keys by path, found " + Describe(registry));
        }
        std::unordered_set<std::u16string> paths;
        for (const auto& member : registry.items()) {
            std::string place = Child("/registry", member.key());
            Key key = ReadKey(member.key(), member.value(), place);
            if (!paths.insert(FoldedRegistryName(key.Path.data(), key.Path.size())).second) {
                throw FileError(place, "the key is named twice (key names ignore letter case)");
            }
            machine.Registry.push_back(std::move(key));
        }
    }
    if (document.contains("faults")) {
        if (!document["faults"].is_array()) {
            throw FileError("/faults", "expected an array of faults, found " + Describe(document["faults"]));
        }
        for (std::size_t i = 0; i < document["faults"].size(); ++i) {
            machine.Faults.push_back(ReadFault(document["faults"][i], Child("/faults", i)));
        }
    }
    return machine;
}

std::string Prefix(const std::string& sourceName)
{
    return "machine file '" + Shown(sourceName, 200) + "': ";
}

// Reads the machine a parsed document describes into the file.
bool ReadDocument(ordered_json document, const std::string& sourceName, MachineFile* file, std::string* error)
{
    try {
        file->Loaded = ReadMachine(document);
    } catch (const FileError& problem) {
        *error = Described(Prefix(sourceName), problem);
        return false;
    }
    file->Path = sourceName;
    file->Document = std::move(document);
    return true;
}

} // namespace

bool LoadMachineText(const std::string& text, const std::string& sourceName, MachineFile* file, std::string* error)
{
    ordered_json document;
    return ParseJson(text, Prefix(sourceName), &document, error) &&
           ReadDocument(std::move(document), sourceName, file, error);
}

bool LoadMachineFile(const std::string& path, MachineFile* file, std::string* error)
{
    ordered_json document;
    {
        std::string text;
        if (!ReadWholeFile(path, MAX_MACHINE_FILE_BYTES, &text, error)) {
            *error = Prefix(path) + *error;
            return false;
        }
        if (!ParseJson(text, Prefix(path), &document, error)) {
            return false;
        }
    } // the text is let go before the machine is built beside the document
    return ReadDocument(std::move(document), path, file, error);
}

} // namespace simulator
