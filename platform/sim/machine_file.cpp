#include "platform/sim/machine_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "platform/sim/sim_files.h"

using nlohmann::ordered_json;

namespace simulator {

namespace {

const char* const PROPERTY_NAMES[PROPERTY_SLOTS] = {"class", "enumerator", "driver", "description"};

// A problem with the file, at a place given as a JSON pointer.
struct FileError : std::runtime_error {
    FileError(const std::string& where, const std::string& what) : std::runtime_error(what), Place(where) {}
    std::string Place;
};

// A text as a message may show it, on one line and in valid UTF-8: control
// characters and bytes that are not UTF-8 as \xNN, and no more than limit
// bytes of it, "..." marking a cut.
std::string Shown(const std::string& text, std::size_t limit)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80                   ? 1
                             : byte >= 0xC2 && byte < 0xE0 ? 2
                             : byte >= 0xE0 && byte < 0xF0 ? 3
                             : byte >= 0xF0 && byte < 0xF5 ? 4
                                                           : 0;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                length = 0;
            }
        }
        std::string piece;
        if (length == 0 || (length == 1 && (byte < 0x20 || byte == 0x7F))) {
            char code[8];
            (void)std::snprintf(code, sizeof(code), "\\x%02X", static_cast<unsigned>(byte));
            piece = code;
            length = 1;
        } else {
            piece = text.substr(i, length);
        }
        if (shown.size() + piece.size() > limit) {
            return shown + "...";
        }
        shown += piece;
        i += length;
    }
    return shown;
}

// A value as a message names it, briefly.
std::string Describe(const ordered_json& value)
{
    if (value.is_object()) {
        return "an object of " + std::to_string(value.size()) + " members";
    }
    if (value.is_array()) {
        return "an array of " + std::to_string(value.size()) + " elements";
    }
    if (value.is_string()) {
        return "\"" + Shown(value.get_ref<const std::string&>(), 40) + "\"";
    }
    return Shown(value.dump(), 40);
}

// A JSON pointer to a member, with its name shown as Shown shows texts, so
// that a message naming the place stays short and on one line.
std::string Child(const std::string& place, const std::string& name)
{
    std::string escaped;
    for (char c : name) {
        if (c == '~' || c == '/') {
            escaped += c == '~' ? "~0" : "~1";
        } else {
            escaped += c;
        }
    }
    return place + "/" + Shown(escaped, 60);
}

std::string Child(const std::string& place, std::size_t index)
{
    return place + "/" + std::to_string(index);
}

void CheckMembers(const ordered_json& object, const std::string& place, std::initializer_list<const char*> allowed)
{
    if (!object.is_object()) {
        throw FileError(place, "expected an object, found " + Describe(object));
    }
    for (const auto& member : object.items()) {
        bool known = false;
        for (const char* name : allowed) {
            known = known || member.key() == name;
        }
        if (!known) {
            std::string names;
            for (const char* name : allowed) {
                names += std::string(names.empty() ? "" : ", ") + "\"" + name + "\"";
            }
            throw FileError(Child(place, member.key()), "unknown member; expected one of " + names);
        }
    }
}

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
            char c = text[i];
            int digit = c >= '0' && c <= '9'          ? c - '0'
                        : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                      : -1;
            if (digit < 0) {
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
        auto digit = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (i + 1 >= text.size() || digit(text[i]) < 0 || digit(text[i + 1]) < 0) {
            throw FileError(place, "expected pairs of hexadecimal digits such as \"31 00\"; bad byte at character " +
                                       std::to_string(i + 1));
        }
        bytes.push_back(static_cast<std::uint8_t>(digit(text[i]) * 16 + digit(text[i + 1])));
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

Device ReadDevice(const ordered_json& value, const std::string& place)
{
    CheckMembers(value, place,
                 {"comment", "status", "problem", "statusError", "class", "enumerator", "driver", "description",
                  "reaction", "pendingDisable"});
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
        if (value.contains(PROPERTY_NAMES[slot])) {
            device.Properties[slot] = ReadProperty(value[PROPERTY_NAMES[slot]], Child(place, PROPERTY_NAMES[slot]));
        }
    }
    if (value.contains("reaction")) {
        const ordered_json& reaction = value["reaction"];
        std::string name = reaction.is_string() ? reaction.get<std::string>() : "";
        if (name == "adapter") {
            device.OnStateChange = Reaction::Adapter;
        } else if (name == "ignore") {
            device.OnStateChange = Reaction::Ignore;
        } else if (name == "needrestart") {
            device.OnStateChange = Reaction::NeedRestart;
        } else if (name == "needreboot") {
            device.OnStateChange = Reaction::NeedReboot;
        } else if (name == "vetoed") {
            device.OnStateChange = Reaction::Vetoed;
        } else {
            throw FileError(Child(place, "reaction"), "expected \"adapter\", \"ignore\", \"needrestart\", "
                                                      "\"needreboot\" or \"vetoed\", found " +
                                                          Describe(reaction));
        }
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

bool IsOperation(const std::string& name)
{
    return std::any_of(std::begin(FAULT_OPERATIONS), std::end(FAULT_OPERATIONS),
                       [&name](const char* operation) { return name == operation; });
}

Fault ReadFault(const ordered_json& value, const std::string& place)
{
    CheckMembers(value, place, {"call", "nth", "device", "property", "stateChange", "error", "requiredSize", "times"});
    Fault fault;
    if (!value.contains("call") || !value["call"].is_string() || !IsOperation(value["call"].get<std::string>())) {
        std::string names;
        for (const char* operation : FAULT_OPERATIONS) {
            names += std::string(names.empty() ? "" : ", ") + operation;
        }
        throw FileError(Child(place, "call"), "expected the name of an operation that can fail: " + names);
    }
    fault.Call = value["call"].get<std::string>();
    bool deviceCall = fault.Call.rfind("SetupDi", 0) == 0 || fault.Call == "CM_Get_DevNode_Status";
    deviceCall = deviceCall && fault.Call != "SetupDiGetClassDevsW" && fault.Call != "SetupDiDestroyDeviceInfoList";
    if (value.contains("nth")) {
        fault.Nth = ReadNumber(value["nth"], Child(place, "nth"), 0xFFFFFFFFFFFFull);
        if (fault.Nth == 0) {
            throw FileError(Child(place, "nth"), "calls are counted from 1");
        }
    }
    if (value.contains("device")) {
        if (!deviceCall) {
            throw FileError(Child(place, "device"), fault.Call + " does not act on one device");
        }
        fault.Device = static_cast<std::int64_t>(ReadNumber(value["device"], Child(place, "device")));
    }
    if (value.contains("property")) {
        if (fault.Call != "SetupDiGetDeviceRegistryPropertyW") {
            throw FileError(Child(place, "property"), "only SetupDiGetDeviceRegistryPropertyW reads a property");
        }
        fault.Property = static_cast<std::int64_t>(ReadNumber(value["property"], Child(place, "property")));
    }
    if (value.contains("stateChange")) {
        if (fault.Call != "SetupDiSetClassInstallParamsW" && fault.Call != "SetupDiCallClassInstaller") {
            throw FileError(Child(place, "stateChange"), "only SetupDiSetClassInstallParamsW and "
                                                         "SetupDiCallClassInstaller carry a state change");
        }
        fault.StateChange = static_cast<std::int64_t>(ReadNumber(value["stateChange"], Child(place, "stateChange")));
    }
    if (!value.contains("error")) {
        throw FileError(place, "a fault needs an \"error\": the last error or code the call answers");
    }
    fault.Error = static_cast<DWORD>(ReadNumber(value["error"], Child(place, "error")));
    bool returnsCode = fault.Call.rfind("Reg", 0) == 0 || fault.Call == "CM_Get_DevNode_Status";
    if (returnsCode && fault.Error == 0) {
        throw FileError(Child(place, "error"), fault.Call + " answers 0 for success; a failure needs another code");
    }
    if (value.contains("requiredSize")) {
        if (fault.Call != "SetupDiGetDeviceRegistryPropertyW" || fault.Error != platform::ERROR_INSUFFICIENT_BUFFER) {
            throw FileError(Child(place, "requiredSize"), "only a property read failing with error 122 "
                                                          "(ERROR_INSUFFICIENT_BUFFER) reports a required size");
        }
        fault.SetsRequiredSize = true;
        fault.RequiredSize = static_cast<DWORD>(ReadNumber(value["requiredSize"], Child(place, "requiredSize")));
    }
    if (value.contains("times")) {
        const ordered_json& times = value["times"];
        if (times.is_string() && times.get<std::string>() == "always") {
            fault.Times = -1;
        } else {
            fault.Times = static_cast<std::int64_t>(ReadNumber(times, Child(place, "times")));
            if (fault.Times == 0) {
                throw FileError(Child(place, "times"), "a fault fires at least once; leave it out instead");
            }
        }
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

// Builds the document from nlohmann-json's SAX events, as its own parser
// does, but refuses an object that names a member twice (the parser would
// keep one silently), with the member's JSON pointer.
class DocumentBuilder : public nlohmann::json_sax<ordered_json> {
public:
    explicit DocumentBuilder(ordered_json* root) : root_(root) {}

    bool null() override { return Add(nullptr); }
    bool boolean(bool value) override { return Add(value); }
    bool number_integer(number_integer_t value) override { return Add(value); }
    bool number_unsigned(number_unsigned_t value) override { return Add(value); }
    bool number_float(number_float_t value, const string_t& /*text*/) override { return Add(value); }
    bool string(string_t& value) override { return Add(std::move(value)); }
    bool binary(binary_t& value) override { return Add(ordered_json::binary(std::move(value))); }

    bool start_object(std::size_t /*elements*/) override { return Open(ordered_json::object(), true); }
    bool start_array(std::size_t /*elements*/) override { return Open(ordered_json::array(), false); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override
    {
        Frame& object = open_.back();
        // Most objects have a few members, looked through; a large one is
        // given a set of its names.
        bool twice = false;
        if (object.NameSet.empty() && object.Names.size() < 16) {
            twice = std::find(object.Names.begin(), object.Names.end(), name) != object.Names.end();
            object.Names.push_back(name);
        } else {
            if (object.NameSet.empty()) {
                object.NameSet.insert(object.Names.begin(), object.Names.end());
            }
            twice = !object.NameSet.insert(name).second;
        }
        if (twice) {
            throw FileError(Child(object.Pointer, name), "the member is named twice in its object");
        }
        object.Member = &(*object.Value)[name];
        object.LastName = std::move(name);
        return true;
    }

    // Throws the problem as itself, as the library's own parser does.
    bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                     const nlohmann::detail::exception& problem) override
    {
        if (const auto* syntax = dynamic_cast<const ordered_json::parse_error*>(&problem)) {
            throw *syntax;
        }
        if (const auto* range = dynamic_cast<const ordered_json::out_of_range*>(&problem)) {
            throw *range;
        }
        throw std::runtime_error(problem.what());
    }

private:
    struct Frame {
        ordered_json* Value;
        bool IsObject;
        std::string Pointer;
        std::vector<std::string> Names;
        std::unordered_set<std::string> NameSet;
        std::string LastName;
        ordered_json* Member = nullptr;
        std::size_t Next = 0;
    };

    // Where the next value goes, and, when asked for, its JSON pointer.
    ordered_json* Slot(std::string* pointer)
    {
        if (open_.empty()) {
            return root_;
        }
        Frame& parent = open_.back();
        if (parent.IsObject) {
            if (pointer != nullptr) {
                *pointer = Child(parent.Pointer, parent.LastName);
            }
            return parent.Member;
        }
        if (pointer != nullptr) {
            *pointer = Child(parent.Pointer, parent.Next);
        }
        ++parent.Next;
        parent.Value->push_back(nullptr);
        return &parent.Value->back();
    }

    template <class Value> bool Add(Value&& value)
    {
        *Slot(nullptr) = ordered_json(std::forward<Value>(value));
        return true;
    }

    bool Open(ordered_json container, bool isObject)
    {
        std::string pointer;
        ordered_json* slot = Slot(&pointer);
        *slot = std::move(container);
        open_.push_back(Frame{slot, isObject, std::move(pointer), {}, {}, {}, nullptr, 0});
        return true;
    }

    bool Close()
    {
        open_.pop_back();
        return true;
    }

    ordered_json* root_;
    std::vector<Frame> open_;
};

ordered_json ParseRefusingDuplicates(const std::string& text)
{
    ordered_json document;
    DocumentBuilder builder(&document);
    ordered_json::sax_parse(text, &builder);
    return document;
}

// "line L, column C" for a byte offset into the text.
std::string LineAndColumn(const std::string& text, std::size_t offset)
{
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string HexText(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char byte[4];
        (void)std::snprintf(byte, sizeof(byte), i == 0 ? "%02x" : " %02x", static_cast<unsigned>(bytes[i]));
        text += byte;
    }
    return text;
}

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

namespace {

std::string Prefix(const std::string& sourceName)
{
    return "machine file '" + Shown(sourceName, 200) + "': ";
}

// Parses the text into a document; on failure a message naming the place.
bool ParseDocument(const std::string& text, const std::string& sourceName, ordered_json* document, std::string* error)
{
    try {
        *document = ParseRefusingDuplicates(text);
        return true;
    } catch (const ordered_json::parse_error& problem) {
        // The parser's own message quotes all it last read; a short excerpt
        // up to the place serves instead.
        std::string what = problem.what();
        std::size_t detail = what.find("syntax error");
        what = detail != std::string::npos ? what.substr(detail) : what;
        what = what.substr(0, what.find("; last read:"));
        std::size_t at = problem.byte > 0 ? problem.byte - 1 : 0;
        std::size_t from = at > 40 ? at - 40 : 0;
        *error = Prefix(sourceName) + LineAndColumn(text, at) + ": not valid JSON: " + Shown(what, 200) + ", near '" +
                 Shown(text.substr(from, at + 1 - from), 80) + "'";
    } catch (const ordered_json::exception& problem) {
        // A number too large for any type, for one; the parser gives no place.
        std::string what = problem.what();
        std::size_t detail = what.find("] ");
        *error = Prefix(sourceName) +
                 "not valid JSON: " + Shown(detail != std::string::npos ? what.substr(detail + 2) : what, 200);
    } catch (const FileError& problem) {
        *error = Prefix(sourceName) + "at " + problem.Place + ": " + Shown(problem.what(), 400);
    }
    return false;
}

// Reads the machine a parsed document describes into the file.
bool ReadDocument(ordered_json document, const std::string& sourceName, MachineFile* file, std::string* error)
{
    try {
        file->Loaded = ReadMachine(document);
    } catch (const FileError& problem) {
        *error = Prefix(sourceName) + "at " + (problem.Place.empty() ? "/" : problem.Place) + ": " +
                 Shown(problem.what(), 400);
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
    return ParseDocument(text, sourceName, &document, error) &&
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
        if (!ParseDocument(text, path, &document, error)) {
            return false;
        }
    } // the text is let go before the machine is built beside the document
    return ReadDocument(std::move(document), path, file, error);
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
    for (auto& member : (*document)["registry"].items()) {
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
                values[name] = ordered_json{{"type", value.second.Type}, {"data", HexText(value.second.Data)}};
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
