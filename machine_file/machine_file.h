// Machine files: the JSON description of a simulated machine, read before a
// run and written back after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "machine_file/files.h"
#include "platform/sim/simulator.h"

namespace simulator {

// How a machine file lays out its text, as far as writing it back keeps it:
// the indentation of one level (a tab, or some spaces) or none at all (the
// whole document on one line), whether its lines end in CR LF, whether it
// begins with a UTF-8 byte order mark and whether it ends with a line end.
struct FileLayout {
    bool OneLine = false;
    char IndentCharacter = ' ';
    int IndentWidth = 2;
    bool CarriageReturns = false;
    bool ByteOrderMark = false;
    bool FinalLineEnd = true;
};

// The layout of a machine file's text. The indentation of one level is the
// smallest that any line has; a text with no line end inside the document is
// one line.
FileLayout DetectLayout(const std::string& text);

// Writes a document in a layout: each member and element on a line of its own
// at its level's indentation, or all on one line without spaces.
bool WriteDocument(std::ostream& out, const nlohmann::ordered_json& document, const FileLayout& layout);

// A loaded machine file: where it came from, its document as read (a save
// changes only what the run changed in it) and its layout, and the machine it
// describes.
struct MachineFile { // NOLINT(bugprone-exception-escape): its implicit constructors allocate
    std::string Path;
    nlohmann::ordered_json Document;
    FileLayout Layout;
    Machine Loaded;
};

// Reads a machine from JSON text; sourceName names it in errors. A text of
// more than MAX_MACHINE_FILE_VALUES values is refused as it is read. On failure
// answers false with one message naming the source, the place and the problem.
bool LoadMachineText(const std::string& text, const std::string& sourceName, MachineFile* file, std::string* error);

// The largest machine file read: three times a machine of 100,000 devices.
constexpr std::uintmax_t MAX_MACHINE_FILE_BYTES = std::uintmax_t{64} * 1024 * 1024;

// The most values (members and elements, containers included) a machine file
// may hold: more than a snapshot of 100,000 devices has, at one value for a
// device and one or two for each of its members (some nine in all; a property
// more makes it ten). A value costs the machine a few hundred bytes however
// short its text (an empty device is "{}"), so the count, not the size,
// bounds the memory a dense file needs.
constexpr std::size_t MAX_MACHINE_FILE_VALUES = 1000000;

// Reads a machine file from disk, as LoadMachineText does. A file that is not
// a regular file, or is larger than MAX_MACHINE_FILE_BYTES, is refused unread.
bool LoadMachineFile(const std::string& path, MachineFile* file, std::string* error);

// Writes the device states and registry values in which machine differs from
// the file's own into its document, and prepares the document, in the file's
// layout, as the file's new content (see PrepareReplacement); prepares nothing
// (an empty Temporary) when nothing changed. On failure answers false with one
// message naming the file.
bool PrepareMachineFileSave(MachineFile* file, const Machine& machine, PreparedReplacement* prepared,
                            std::string* error);

// Brings a machine file's document up to the machine's device states and
// registry values; values the machine left as they were keep their form.
// Answers whether anything changed.
bool UpdateDocument(nlohmann::ordered_json* document, const Machine& machine);

// A machine file's document for a machine: its elevation, its devices with
// their state, properties and reactions, its registry and its faults. Loading
// the document gives the machine back. comment, when not
// empty, heads the document.
nlohmann::ordered_json MachineDocument(const Machine& machine, const std::string& comment);

// The first name of the machine that a machine file cannot spell, so that
// MachineDocument would not give the machine back: a registry key's path, a
// value's name or a device instance ID holding a surrogate without its
// partner, which UTF-8 has no form for. Answered as UTF-8, that surrogate as
// U+FFFD; empty when every name can be spelled.
std::string NameNoFileSpells(const Machine& machine);

// The built-in demo machine's JSON text.
const std::string& DemoMachineText();

} // namespace simulator
