#include "platform/sim/json_document.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <utility>
#include <vector>

namespace simulator {

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

// A member's name is shown as Shown shows texts, so that a message naming
// the place stays short and on one line.
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

namespace {

// Where a cut near at may fall without splitting a character (the place is
// valid UTF-8, as Child makes it).
std::size_t CharacterStart(const std::string& text, std::size_t at)
{
    while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
        --at;
    }
    return at;
}

// A place as a message shows it: each name in it is short already, but a
// deep place has many; its start and its end tell where it is.
std::string ShownPlace(const std::string& place)
{
    const std::size_t head = 60;
    const std::size_t tail = 100;
    if (place.empty()) {
        return "/";
    }
    if (place.size() <= head + tail + 3) {
        return place;
    }
    return place.substr(0, CharacterStart(place, head)) + "..." +
           place.substr(CharacterStart(place, place.size() - tail));
}

} // namespace

std::string Described(const std::string& prefix, const FileError& problem)
{
    return prefix + "at " + ShownPlace(problem.Place) + ": " + Shown(problem.what(), 400);
}

void CheckMembers(const ordered_json& object, const std::string& place, const std::vector<const char*>& allowed)
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

namespace {

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

} // namespace

bool ParseJson(const std::string& text, const std::string& prefix, ordered_json* document, std::string* error)
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
        *error = prefix + LineAndColumn(text, at) + ": not valid JSON: " + Shown(what, 200) + ", near '" +
                 Shown(text.substr(from, at + 1 - from), 80) + "'";
    } catch (const ordered_json::exception& problem) {
        // A number too large for any type, for one; the parser gives no place.
        std::string what = problem.what();
        std::size_t detail = what.find("] ");
        *error = prefix + "not valid JSON: " + Shown(detail != std::string::npos ? what.substr(detail + 2) : what, 200);
    } catch (const FileError& problem) {
        *error = Described(prefix, problem);
    }
    return false;
}

} // namespace simulator
