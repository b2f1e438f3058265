#include "machine_file/json_document.h"

#include "common/text_format.h"
#include "common/unicode.h"

#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

namespace simulator {

std::string Shown(const std::string& text, std::size_t limit)
{
    // Most texts are short and printable ASCII, and show as they are.
    if (text.size() <= limit && std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        return text;
    }
    std::string shown;
    const char* end = text.data() + text.size();
    for (const char* at = text.data(); at < end;) {
        const char* start = at;
        std::uint32_t point = DecodeUtf8(&at, end);
        std::string piece = point == NOT_UTF8 || point < 0x20 || point == 0x7F
                                ? "\\x" + HexByte(static_cast<unsigned char>(*start), true)
                                : std::string(start, at);
        if (shown.size() + piece.size() > limit) {
            return shown + "...";
        }
        shown += piece;
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

std::string Described(const std::string& prefix, const FileError& problem)
{
    return prefix + "at " + (problem.Place.empty() ? "/" : problem.Place) + ": " + Shown(problem.what(), 400);
}

namespace {

// A problem the parser met at a place its message does not give.
struct PlacedProblem {
    std::size_t Position; // bytes read when it was met
    std::string What;
};

// Builds the document from nlohmann-json's SAX events, as its own parser
// does, but refuses an object that names a member twice (the parser would
// keep one silently) and the first member or value out of shape, each with
// its JSON pointer. Members are appended as they come, with the names seen kept
// apart, so that a large object costs time in proportion to its size; an open
// container keeps only its own last name or count, and the pointer of a place
// is put together only for a message.
class DocumentBuilder : public nlohmann::json_sax<ordered_json> {
public:
    DocumentBuilder(ordered_json* root, const ShapeNode* shape, std::size_t mostValues)
        : root_(root), shape_(shape), mostValues_(mostValues)
    {
    }

    bool null() override { return Add(nullptr); }
    bool boolean(bool value) override { return Add(value); }
    bool number_integer(number_integer_t value) override { return Add(value); }
    bool number_unsigned(number_unsigned_t value) override { return Add(value); }
    bool number_float(number_float_t value, const string_t& /*text*/) override { return Add(value); }
    bool string(string_t& value) override { return Add(std::move(value)); }
    bool binary(binary_t& value) override { return Add(ordered_json::binary(std::move(value))); }

    bool start_object(std::size_t /*elements*/) override { return Open(ordered_json::object(), Shape::Object); }
    bool start_array(std::size_t /*elements*/) override { return Open(ordered_json::array(), Shape::Array); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override
    {
        Frame& object = open_.back();
        object.MemberNode = object.Node->Each;
        if (!object.Node->Members.empty()) {
            object.MemberNode = nullptr;
            for (const auto& member : object.Node->Members) {
                object.MemberNode = name == member.first ? member.second : object.MemberNode;
            }
            if (object.MemberNode == nullptr) {
                std::string names;
                for (const auto& member : object.Node->Members) {
                    names += std::string(names.empty() ? "" : ", ") + "\"" + member.first + "\"";
                }
                object.LastName = std::move(name);
                throw FileError(Pointer(open_.size()), "unknown member; expected one of " + names);
            }
        }
        // Most objects have a few members, looked through; a large one is
        // given a set of its names' hashes, and looked through only when a
        // hash comes again.
        auto& members =
            static_cast<ordered_json::object_t::Container&>(object.Value->get_ref<ordered_json::object_t&>());
        auto named = [&members, &name] {
            return std::any_of(members.begin(), members.end(),
                               [&name](const auto& member) { return member.first == name; });
        };
        bool twice = false;
        if (members.size() < 16) {
            twice = named();
        } else {
            std::hash<std::string> hash;
            if (object.Hashes.empty()) {
                for (const auto& member : members) {
                    object.Hashes.insert(hash(member.first));
                }
            }
            twice = !object.Hashes.insert(hash(name)).second && named();
        }
        object.LastName = std::move(name);
        if (twice) {
            throw FileError(Pointer(open_.size()), "the member is named twice in its object");
        }
        members.emplace_back(object.LastName, nullptr);
        object.Member = &members.back().second;
        return true;
    }

    // Throws the problem as itself, as the library's own parser does; one
    // that carries no place (a number too large for any type) with the
    // place the parser had reached.
    bool parse_error(std::size_t position, const std::string& /*token*/,
                     const nlohmann::detail::exception& problem) override
    {
        if (const auto* syntax = dynamic_cast<const ordered_json::parse_error*>(&problem)) {
            throw *syntax;
        }
        throw PlacedProblem{position, problem.what()};
    }

private:
    struct Frame {
        ordered_json* Value;
        bool IsObject;
        const ShapeNode* Node;                  // the container's shape
        const ShapeNode* MemberNode = nullptr;  // an object's last member's
        std::unordered_set<std::size_t> Hashes; // of a large object's names
        std::string LastName;
        ordered_json* Member = nullptr;
        std::size_t Next = 0; // elements of an array so far
    };

    // The JSON pointer of the place the innermost `depth` open containers
    // lead to: each object's last member, each array's last element.
    std::string Pointer(std::size_t depth) const
    {
        std::string pointer;
        for (std::size_t i = 0; i < depth && i < open_.size(); ++i) {
            const Frame& frame = open_[i];
            pointer = frame.IsObject ? Child(pointer, frame.LastName) : Child(pointer, frame.Next - 1);
        }
        return pointer;
    }

    // Where the next value goes, and the shape it must have.
    ordered_json* Slot(const ShapeNode** shape)
    {
        Frame* parent = open_.empty() ? nullptr : &open_.back();
        if (parent != nullptr && !parent->IsObject) {
            ++parent->Next; // so that the pointer names the new element
        }
        // Each value costs the machine built from it far more than its few
        // bytes of text: the count bounds what a small file can ask.
        if (++values_ > mostValues_) {
            throw FileError(Pointer(open_.size()),
                            "more than " + std::to_string(mostValues_) +
                                " values (members and elements) in the file, the most it may hold");
        }
        if (parent == nullptr) {
            *shape = shape_;
            return root_;
        }
        if (parent->IsObject) {
            *shape = parent->MemberNode;
            return parent->Member;
        }
        *shape = parent->Node->Each;
        parent->Value->push_back(nullptr);
        return &parent->Value->back();
    }

    template <class Value> bool Add(Value&& value)
    {
        const ShapeNode* shape = nullptr;
        ordered_json* slot = Slot(&shape);
        *slot = ordered_json(std::forward<Value>(value));
        if (shape->Kind != Shape::Value && shape->Kind != Shape::ValueOrObject) {
            throw FileError(Pointer(open_.size()),
                            std::string("expected ") + shape->Holds + ", found " + Describe(*slot));
        }
        return true;
    }

    bool Open(ordered_json container, Shape kind)
    {
        const ShapeNode* shape = nullptr;
        ordered_json* slot = Slot(&shape);
        if (shape->Kind != kind && !(shape->Kind == Shape::ValueOrObject && kind == Shape::Object)) {
            throw FileError(Pointer(open_.size()), std::string("expected ") + shape->Holds + ", found " +
                                                       (kind == Shape::Object ? "an object" : "an array"));
        }
        *slot = std::move(container);
        open_.push_back(Frame{slot, kind == Shape::Object, shape, nullptr, {}, {}, nullptr, 0});
        return true;
    }

    bool Close()
    {
        open_.pop_back();
        return true;
    }

    ordered_json* root_;
    const ShapeNode* shape_;
    std::size_t mostValues_;
    std::size_t values_ = 0;
    std::vector<Frame> open_;
};

ordered_json ParseRefusingDuplicates(const std::string& text, const ShapeNode& shape, std::size_t mostValues)
{
    ordered_json document;
    DocumentBuilder builder(&document, &shape, mostValues);
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

bool ParseJson(const std::string& text, const std::string& prefix, const ShapeNode& shape, std::size_t mostValues,
               ordered_json* document, std::string* error)
{
    // The parser takes a NUL byte for the end of the text, and would drop
    // whatever follows it; no JSON text holds one.
    std::size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        *error = prefix + LineAndColumn(text, nul) + ": not valid JSON: a NUL byte";
        return false;
    }
    try {
        *document = ParseRefusingDuplicates(text, shape, mostValues);
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
    } catch (const PlacedProblem& problem) {
        std::size_t detail = problem.What.find("] ");
        *error = prefix + LineAndColumn(text, problem.Position > 0 ? problem.Position - 1 : 0) + ": not valid JSON: " +
                 Shown(detail != std::string::npos ? problem.What.substr(detail + 2) : problem.What, 200);
    } catch (const FileError& problem) {
        *error = Described(prefix, problem);
    }
    return false;
}

} // namespace simulator
