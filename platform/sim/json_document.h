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

// The one-line message for a problem at a place: prefix, the place (its
// start and end only when it is long) and the problem.
std::string Described(const std::string& prefix, const FileError& problem);

// Throws a FileError unless value is an object whose members are all allowed.
void CheckMembers(const ordered_json& object, const std::string& place, const std::vector<const char*>& allowed);

// Parses JSON text into a document; a member named twice in one object is
// refused. On failure answers false with one message that begins with
// prefix and names the place: a line and column, or a JSON pointer.
bool ParseJson(const std::string& text, const std::string& prefix, ordered_json* document, std::string* error);

} // namespace simulator
