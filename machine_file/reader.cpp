// Reading machine files: every member checked, every problem reported at its
// JSON pointer.
#include <algorithm>
#include <limits>
#include <unordered_set>
#include <utility>

#include "machine_file/files.h"
#include "machine_file/format.h"
#include "machine_file/json_document.h"
#include "machine_file/machine_file.h"

namespace simulator {

namespace {

// What a property, and the list of devices, hold, for messages.
constexpr const char* PROPERTY_HOLDS = "a text, {\"bytes\": \"hex bytes\"} or {\"error\": code}";
constexpr const char* DEVICES_HOLDS = "an array of the present devices, in member-index order";

} // namespace

const ShapeNode& MachineFileShape()
{
    static const ShapeNode text{Shape::Value, "a text", {}};
    static const ShapeNode flag{Shape::Value, "true or false", {}};
    static const ShapeNode number{Shape::Value, "a whole number or a \"0x...\" text", {}};
    static const ShapeNode bytes{Shape::Value, "a text of hexadecimal bytes such as \"31 00\"", {}};
    static const ShapeNode name{Shape::Value, "a name", {}};
    static const ShapeNode times{Shape::Value, "a whole number of at least 1, or \"always\"", {}};
    static const ShapeNode property{Shape::ValueOrObject, PROPERTY_HOLDS, {{"bytes", &bytes}, {"error", &number}}};
    static const ShapeNode device = [] {
        ShapeNode shape{Shape::Object,
                        "an object",
                        {{"comment", &text}, {"status", &number}, {"problem", &number}, {"statusError", &number}}};
        for (const PropertyKind& kind : PROPERTY_KINDS) {
            shape.Members.emplace_back(kind.Member, &property);
        }
        shape.Members.insert(shape.Members.end(),
                             {{"reaction", &name}, {"pendingDisable", &flag}, {"instance", &text}});
        return shape;
    }();
    static const ShapeNode devices{Shape::Array, DEVICES_HOLDS, {}, &device};
    static const ShapeNode value{
        Shape::ValueOrObject, "a text, or an object of \"type\" and \"data\"", {{"type", &number}, {"data", &bytes}}};
    static const ShapeNode values{Shape::Object, "an object of named values", {}, &value};
    static const ShapeNode key{
        Shape::Object, "an object", {{"values", &values}, {"denyFullAccess", &flag}, {"denyRead", &flag}}};
    static const ShapeNode registry{Shape::Object, "an object of keys by path", {}, &key};
    static const ShapeNode fault{Shape::Object,
                                 "an object",
                                 {{"call", &name},
                                  {"nth", &number},
                                  {"device", &number},
                                  {"property", &number},
                                  {"stateChange", &number},
                                  {"error", &number},
                                  {"requiredSize", &number},
                                  {"times", &times},
                                  {"kill", &flag}}};
    static const ShapeNode faults{Shape::Array, "an array of faults", {}, &fault};
    static const ShapeNode root{
        Shape::Object,
        "an object",
        {{"comment", &text}, {"elevated", &flag}, {"devices", &devices}, {"registry", &registry}, {"faults", &faults}}};
    return root;
}

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
        bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        std::size_t start = hex ? 2 : 0;
        for (std::size_t i = start; i < text.size(); ++i) {
            int digit = HexDigit(text[i]);
            if (digit < 0 || digit >= (hex ? 16 : 10)) {
                throw FileError(place, hex ? Describe(value) + " is not a hexadecimal number: expected the digits 0-9 "
                                                               "and A-F after \"0x\""
                                           : "expected a whole number, in decimal or as a \"0x...\" text, found " +
                                                 Describe(value));
            }
            if (number > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / (hex ? 16 : 10)) {
                throw FileError(place, Describe(value) + " is larger than " + std::to_string(maximum));
            }
            number = number * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        }
        if (text.size() == start) {
            throw FileError(place,
                            "expected a whole number, in decimal or as a \"0x...\" text, found " + Describe(value));
        }
    } else {
        throw FileError(place, "expected a whole number or a \"0x...\" text, found " + Describe(value));
    }
    if (number > maximum) {
        throw FileError(place, "the number " + std::to_string(number) + " is larger than " + std::to_string(maximum));
    }
    return number;
}

// The member of an object that must be there; when it is not, the message
// names it and says what it holds.
const ordered_json& Required(const ordered_json& object, const char* name, const std::string& place,
                             const std::string& holds)
{
    auto found = object.find(name);
    if (found == object.end()) {
        throw FileError(Child(place, name), "missing: " + holds);
    }
    return *found;
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

// An optional comment: any text.
void CheckComment(const ordered_json& object, const std::string& place)
{
    auto comment = object.find("comment");
    if (comment != object.end() && !comment->is_string()) {
        throw FileError(Child(place, "comment"), "expected a text, found " + Describe(*comment));
    }
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
    if (!value.is_object() || value.size() != 1) {
        throw FileError(place, std::string("expected ") + PROPERTY_HOLDS + ", found " + Describe(value));
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
    CheckComment(value, place);
    Device device = ReadDeviceState(value, place);
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
    if (value.contains("instance")) {
        device.InstanceId = ReadText(value["instance"], Child(place, "instance"));
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
    const char* both = "a value has both \"type\" and \"data\", or is a text";
    result.Type = static_cast<DWORD>(ReadNumber(Required(value, "type", place, both), Child(place, "type")));
    result.Data = ReadBytes(Required(value, "data", place, both), Child(place, "data"));
    return result;
}

} // namespace

Key ReadKey(const std::string& path, const ordered_json& value, const std::string& place)
{
    Key key;
    key.Path = Utf8ToUtf16(path);
    if (path.empty() || path.front() == '\\' || path.back() == '\\' || path.find("\\\\") != std::string::npos) {
        throw FileError(place, "a key path names each key below the local machine root once, separated by single "
                               "backslashes, with none at either end");
    }
    key.DenyFullAccess = ReadFlag(value, "denyFullAccess", place, false);
    key.DenyRead = ReadFlag(value, "denyRead", place, false);
    if (value.contains("values")) {
        const ordered_json& values = value["values"];
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

// How often a fault fires: a whole number of at least 1, or "always" (-1).
std::int64_t ReadTimes(const ordered_json& value, const std::string& place)
{
    if (value.is_string() && value.get_ref<const std::string&>() == "always") {
        return -1;
    }
    std::uint64_t times = 0;
    try {
        times = ReadNumber(value, place, 0xFFFFFFFFFFFFull);
    } catch (const FileError&) {
        times = 0;
    }
    if (times == 0) {
        throw FileError(place, "expected a whole number of at least 1, or \"always\"; found " + Describe(value));
    }
    return static_cast<std::int64_t>(times);
}

Fault ReadFault(const ordered_json& value, const std::string& place)
{
    Fault fault;
    std::string names;
    for (const OperationKind& kind : OPERATION_KINDS) {
        names += std::string(names.empty() ? "" : ", ") + kind.Name;
    }
    const ordered_json& call = Required(value, "call", place, "the name of an operation that can fail: " + names);
    if (!call.is_string() || !OperationNamed(call.get<std::string>(), &fault.Call)) {
        throw FileError(Child(place, "call"),
                        "expected the name of an operation that can fail: " + names + "; found " + Describe(call));
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
    fault.Kill = ReadFlag(value, "kill", place, false);
    if (!fault.Kill || value.contains("error")) {
        fault.Error = static_cast<DWORD>(ReadNumber(
            Required(value, "error", place, "the last error or the code the call answers, or \"kill\": true"),
            Child(place, "error")));
    }
    if (value.contains("requiredSize")) {
        fault.SetsRequiredSize = true;
        fault.RequiredSize = static_cast<DWORD>(ReadNumber(value["requiredSize"], Child(place, "requiredSize")));
    }
    if (value.contains("times")) {
        fault.Times = ReadTimes(value["times"], Child(place, "times"));
    }
    FaultProblem problem = ProblemOf(fault);
    if (!problem.Problem.empty()) {
        throw FileError(Child(place, problem.Member), problem.Problem);
    }
    return fault;
}

// The first key, in the registry's order, whose path an earlier key has in
// some letter case; the registry's size when there is none. The keys are
// looked up by a hash of their paths, so that no second copy of every path is
// needed.
std::size_t SecondNameOfAKey(const std::vector<Key>& registry)
{
    RegistryNameIndex index = IndexByRegistryName(registry);
    std::size_t twice = registry.size();
    for (std::size_t i = 0; i < index.size(); ++i) {
        const Key& key = registry[index[i].second];
        if (FindByRegistryName(index, registry, key.Path.data(), key.Path.size()) != index[i].second) {
            twice = std::min(twice, index[i].second);
        }
    }
    return twice;
}

Machine ReadMachine(const ordered_json& document)
{
    CheckComment(document, "");
    Machine machine;
    machine.Elevated = ReadFlag(document, "elevated", "", true);
    const ordered_json& devices = Required(document, "devices", "", DEVICES_HOLDS);
    machine.Devices.reserve(devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        machine.Devices.push_back(ReadDevice(devices[i], Child("/devices", i)));
    }
    if (document.contains("registry")) {
        const ordered_json& registry = document["registry"];
        machine.Registry.reserve(registry.size());
        for (const auto& member : registry.items()) {
            machine.Registry.push_back(ReadKey(member.key(), member.value(), Child("/registry", member.key())));
        }
        std::size_t twice = SecondNameOfAKey(machine.Registry);
        if (twice < machine.Registry.size()) {
            throw FileError(Child("/registry", Utf16ToUtf8(machine.Registry[twice].Path)),
                            "the key is named twice (key names ignore letter case)");
        }
    }
    if (document.contains("faults")) {
        for (std::size_t i = 0; i < document["faults"].size(); ++i) {
            machine.Faults.push_back(ReadFault(document["faults"][i], Child("/faults", i)));
        }
    }
    return machine;
}

std::string Prefix(const std::string& sourceName)
{
    return "machine file " + QuotedPath(sourceName) + ": ";
}

// Reads the machine a parsed document describes into the file.
bool ReadDocument(ordered_json document, const std::string& sourceName, const FileLayout& layout, MachineFile* file,
                  std::string* error)
{
    try {
        file->Loaded = ReadMachine(document);
    } catch (const FileError& problem) {
        *error = Described(Prefix(sourceName), problem);
        return false;
    }
    file->Path = sourceName;
    file->Document = std::move(document);
    file->Layout = layout;
    return true;
}

} // namespace

bool LoadMachineText(const std::string& text, const std::string& sourceName, MachineFile* file, std::string* error)
{
    ordered_json document;
    return ParseJson(text, Prefix(sourceName), MachineFileShape(), MAX_MACHINE_FILE_VALUES, &document, error) &&
           ReadDocument(std::move(document), sourceName, DetectLayout(text), file, error);
}

bool LoadMachineFile(const std::string& path, MachineFile* file, std::string* error)
{
    ordered_json document;
    FileLayout layout;
    {
        std::string text;
        if (!ReadWholeFile(path, MAX_MACHINE_FILE_BYTES, &text, error)) {
            *error = Prefix(path) + *error;
            return false;
        }
        if (!ParseJson(text, Prefix(path), MachineFileShape(), MAX_MACHINE_FILE_VALUES, &document, error)) {
            return false;
        }
        layout = DetectLayout(text);
    } // the text is let go before the machine is built beside the document
    return ReadDocument(std::move(document), path, layout, file, error);
}

} // namespace simulator
