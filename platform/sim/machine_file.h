// Machine files: the JSON description of a simulated machine, read before a
// run and written back after it.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/sim/simulator.h"

namespace simulator {

// A loaded machine file: where it came from, its document as read (a save
// changes only what the run changed in it) and the machine it describes.
struct MachineFile { // NOLINT(bugprone-exception-escape): its implicit constructors allocate
    std::string Path;
    nlohmann::ordered_json Document;
    Machine Loaded;
};

// Reads a machine from JSON text; sourceName names it in errors. On failure
// answers false with one message naming the source, the place and the problem.
bool LoadMachineText(const std::string& text, const std::string& sourceName, MachineFile* file, std::string* error);

// The largest machine file read: four times a machine of 100,000 devices.
constexpr std::uintmax_t MAX_MACHINE_FILE_BYTES = std::uintmax_t{64} * 1024 * 1024;

// Reads a machine file from disk, as LoadMachineText does. A file that is not
// a regular file, or is larger than MAX_MACHINE_FILE_BYTES, is refused unread.
bool LoadMachineFile(const std::string& path, MachineFile* file, std::string* error);

// Writes the device states and registry values in which machine differs from
// the file's own into its document, and the document back into the file,
// atomically: the file is replaced whole or not at all. Writes nothing when
// nothing changed.
bool SaveMachineFile(MachineFile* file, const Machine& machine, std::string* error);

// Brings a machine file's document up to the machine's device states and
// registry values; values the machine left as they were keep their form.
// Answers whether anything changed.
bool UpdateDocument(nlohmann::ordered_json* document, const Machine& machine);

// A machine file's document for a machine: its elevation, its devices with
// their state, properties and reactions, and its registry; faults are not
// written. Loading the document gives the machine back. comment, when not
// empty, heads the document.
nlohmann::ordered_json MachineDocument(const Machine& machine, const std::string& comment);

// The built-in demo machine's JSON text.
const std::string& DemoMachineText();

} // namespace simulator
