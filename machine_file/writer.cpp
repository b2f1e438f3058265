// Writing a run's changes back into a machine file.
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <ostream>
#include <streambuf>

#include "common/text_format.h"
#include "machine_file/files.h"
#include "machine_file/format.h"
#include "machine_file/json_document.h"
#include "machine_file/machine_file.h"

namespace simulator {

namespace {

// A number as machine files write one in hexadecimal: "0x180200A".
std::string HexText(DWORD value)
{
    return HexNumber(value, 1, true);
}

// A number written back in the form the file used for it.
ordered_json NumberLike(const ordered_json& original, DWORD value)
{
    return original.is_string() ? ordered_json(HexText(value)) : ordered_json(value);
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
        document["statusError"] = HexText(device.StatusResult);
    }
    document["status"] = HexText(device.Status);
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
    if (!device.InstanceId.empty()) {
        document["instance"] = Utf16ToUtf8(device.InstanceId);
    }
    return document;
}

ordered_json KeyDocument(const Key& key)
{
    ordered_json document = ordered_json::object();
    if (key.DenyFullAccess) {
        document["denyFullAccess"] = true;
    }
    if (key.DenyRead) {
        document["denyRead"] = true;
    }
    ordered_json values = ordered_json::object();
    for (const auto& value : key.Values) {
        values[Utf16ToUtf8(value.first)] =
            ordered_json{{"type", value.second.Type}, {"data", HexBytes(value.second.Data)}};
    }
    if (!values.empty()) {
        document["values"] = values; // a key without values leaves the member out
    }
    return document;
}

// A fault with the filters it was given.
ordered_json FaultDocument(const Fault& fault)
{
    ordered_json document = ordered_json::object();
    document["call"] = KindOf(fault.Call).Name;
    if (fault.Nth != 0) {
        document["nth"] = fault.Nth;
    }
    const std::pair<const char*, std::int64_t> filters[] = {
        {"device", fault.Device}, {"property", fault.Property}, {"stateChange", fault.StateChange}};
    for (const auto& filter : filters) {
        if (filter.second >= 0) {
            document[filter.first] = filter.second;
        }
    }
    if (fault.Kill) {
        document["kill"] = true;
    } else {
        document["error"] = fault.Error;
    }
    if (fault.SetsRequiredSize) {
        document["requiredSize"] = fault.RequiredSize;
    }
    if (fault.Times != 1) {
        document["times"] = fault.Times < 0 ? ordered_json("always") : ordered_json(fault.Times);
    }
    return document;
}

} // namespace

std::string NameNoFileSpells(const Machine& machine)
{
    auto spelled = [](const std::u16string& name) { return Utf8ToUtf16(Utf16ToUtf8(name)) == name; };
    for (const Key& key : machine.Registry) {
        if (!spelled(key.Path)) {
            return Utf16ToUtf8(key.Path);
        }
        for (const auto& value : key.Values) {
            if (!spelled(value.first)) {
                return Utf16ToUtf8(key.Path) + "\\" + Utf16ToUtf8(value.first);
            }
        }
    }
    for (const Device& device : machine.Devices) {
        if (!spelled(device.InstanceId)) {
            return Utf16ToUtf8(device.InstanceId);
        }
    }
    return "";
}

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
    auto& keys = static_cast<ordered_json::object_t::Container&>(registry.get_ref<ordered_json::object_t&>());
    for (const Key& key : machine.Registry) {
        keys.emplace_back(Utf16ToUtf8(key.Path), KeyDocument(key)); // paths differ: no lookup needed
    }
    document["registry"] = registry;
    if (!machine.Faults.empty()) {
        ordered_json faults = ordered_json::array();
        for (const Fault& fault : machine.Faults) {
            faults.push_back(FaultDocument(fault));
        }
        document["faults"] = faults;
    }
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
    // Keys the run made (the deployment's journal) come after the file's own.
    if (!document->contains("registry") && !machine.Registry.empty()) {
        (*document)["registry"] = ordered_json::object();
    }
    if (!document->contains("registry")) {
        return changed;
    }
    for (std::size_t i = (*document)["registry"].size(); i < machine.Registry.size(); ++i) {
        Key made = machine.Registry[i];
        made.Values.clear(); // written below, as for any key
        (*document)["registry"][Utf16ToUtf8(made.Path)] = KeyDocument(made);
        changed = true;
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
        // A key without values leaves the member out, as a file would.
        if (values.empty()) {
            member.value().erase("values");
        } else {
            member.value()["values"] = values;
        }
        changed = true;
    }
    return changed;
}

FileLayout DetectLayout(const std::string& text)
{
    FileLayout layout;
    std::size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        layout.ByteOrderMark = true;
        start = 3;
    }
    std::size_t end = text.find_last_not_of(" \t\r\n");
    if (end == std::string::npos || end < start) {
        return layout;
    }
    layout.FinalLineEnd = text.find('\n', end) != std::string::npos;
    std::size_t firstBreak = text.find('\n', start);
    layout.CarriageReturns = firstBreak != std::string::npos && firstBreak > start && text[firstBreak - 1] == '\r';
    // On one line when no line ends within the document itself (a blank
    // line before it does not count).
    std::size_t begin = text.find_first_not_of(" \t\r\n", start);
    std::size_t breakWithin = text.find('\n', begin);
    if (breakWithin == std::string::npos || breakWithin > end) {
        layout.OneLine = true;
        return layout;
    }
    // One level is the smallest indentation of a line that holds something.
    std::size_t smallest = 0;
    for (std::size_t at = firstBreak; at != std::string::npos && at < end; at = text.find('\n', at + 1)) {
        std::size_t line = at + 1;
        char first = text[line];
        if (first != ' ' && first != '\t') {
            continue;
        }
        std::size_t width = text.find_first_not_of(first, line) - line;
        char next = text[line + width];
        if (next != '\r' && next != '\n' && next != ' ' && next != '\t' && (smallest == 0 || width < smallest)) {
            smallest = width;
            layout.IndentCharacter = first;
        }
    }
    layout.IndentWidth = static_cast<int>(smallest);
    return layout;
}

namespace {

// Puts a CR before each LF on its way to another stream.
class CarriageReturns : public std::streambuf {
public:
    explicit CarriageReturns(std::streambuf* out) : out_(out) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        if (traits_type::to_char_type(c) == '\n' && out_->sputc('\r') == traits_type::eof()) {
            return traits_type::eof();
        }
        return out_->sputc(traits_type::to_char_type(c));
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        std::streamsize done = 0;
        while (done < count) {
            const char* end =
                static_cast<const char*>(std::memchr(text + done, '\n', static_cast<std::size_t>(count - done)));
            std::streamsize run = end != nullptr ? end - (text + done) : count - done;
            if (out_->sputn(text + done, run) != run) {
                return done;
            }
            done += run;
            if (end != nullptr) {
                if (out_->sputn("\r\n", 2) != 2) {
                    return done;
                }
                ++done;
            }
        }
        return done;
    }

    int sync() override { return out_->pubsync(); }

private:
    std::streambuf* out_;
};

} // namespace

bool WriteDocument(std::ostream& out, const ordered_json& document, const FileLayout& layout)
{
    CarriageReturns filter(out.rdbuf());
    std::ostream crlf(&filter);
    std::ostream& lines = layout.CarriageReturns ? crlf : out;
    if (layout.ByteOrderMark) {
        lines << "\xEF\xBB\xBF";
    }
    // Written as it is serialised: no second copy of the machine in memory,
    // but for lines without indentation, which the stream cannot ask for.
    if (layout.OneLine) {
        lines << document;
    } else if (layout.IndentWidth > 0) {
        lines << std::setfill(layout.IndentCharacter) << std::setw(layout.IndentWidth) << document;
    } else {
        lines << document.dump(0);
    }
    if (layout.FinalLineEnd) {
        lines << '\n';
    }
    lines.flush();
    return static_cast<bool>(lines) && static_cast<bool>(out);
}

bool PrepareMachineFileSave(MachineFile* file, const Machine& machine, PreparedReplacement* prepared,
                            std::string* error)
{
    prepared->Temporary.clear();
    if (!UpdateDocument(&file->Document, machine)) {
        return true;
    }
    auto write = [file](std::ostream& out) { return WriteDocument(out, file->Document, file->Layout); };
    if (!PrepareReplacement(file->Path, write, prepared, error)) {
        *error = "machine file " + QuotedPath(file->Path) + ": the run's changes could not be saved: " + *error;
        return false;
    }
    return true;
}

} // namespace simulator
