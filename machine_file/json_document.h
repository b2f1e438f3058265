// JSON documents as the simulated platform reads them: parsed with members
// named twice refused, and problems reported at a JSON pointer, briefly and
// on one line.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace simulator {

using nlohmann::ordered_json;

// A problem with the file, at a place given as a JSON pointer.
struct FileError : std::runtime_error {
    FileError(const std::string& where, const std::string& what) : std::runtime_error(what), Place(where) {}
    std::string Place;
};

// A text as a message may show it, on one line and in valid UTF-8: control
// characters and bytes that are not UTF-8 as \xNN, and no more than limit
// bytes of it, "..." marking a cut.
std::string Shown(const std::string& text, std::size_t limit);

// A value as a message names it, briefly.
std::string Describe(const ordered_json& value);

// The JSON pointer of a member or an element below place.
std::string Child(const std::string& place, const std::string& name);
std::string Child(const std::string& place, std::size_t index);

// The one-line message for a problem at a place: prefix, the place and the
// problem.
std::string Described(const std::string& prefix, const FileError& problem);

// The shape a document must have, checked as it is parsed, so that a document
// of another shape is refused at its first wrong member or value, with nothing
// more of it built: where an object or an array may stand (so a document nests
// no deeper than its shape), and the members an object may have. What the
// values themselves hold is for the reader to check.
enum class Shape {
    Value,         // a text, a number, true, false or null
    Object,        // an object
    Array,         // an array
    ValueOrObject, // either
};

struct ShapeNode {
    Shape Kind;
    const char* Holds; // what stands here, for a message: "an array of faults"
    // An object's members, by name; when there are none, any name may stand,
    // each member shaped as Each.
    std::vector<std::pair<const char*, const ShapeNode*>> Members;
    // An array's elements, or the members of an object of any names.
    const ShapeNode* Each = nullptr;
};

// Parses JSON text of a shape into a document; a member named twice in one
// object, anything out of shape and a value beyond the first mostValues
// (members and elements, counted over the whole document, containers
// included) are refused as they come. On failure answers false with one
// message that begins with prefix and names the place: a line and column, or
// a JSON pointer.
bool ParseJson(const std::string& text, const std::string& prefix, const ShapeNode& shape, std::size_t mostValues,
               ordered_json* document, std::string* error);

} // namespace simulator
