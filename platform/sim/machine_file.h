// Machine files: the JSON description of a simulated machine, read before a
// run and written back after it.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "platform/sim/simulator.h"

namespace simulator {

// A loaded machine file: where it came from, its document as read, and the
// machine it described, so that a save changes only what the run changed.
struct MachineFile { // NOLINT(bugprone-exception-escape): its implicit constructors allocate
    std::string Path;
    nlohmann::ordered_json Document;
    Machine Loaded;
};

// Reads a machine from JSON text; sourceName names it in errors. On failure
// answers false with one message naming the source, the place and the problem.
bool LoadMachineText(const std::string& text, const std::string& sourceName, MachineFile* file, std::string* error);

// Reads a machine file from disk, as LoadMachineText does.
bool LoadMachineFile(const std::string& path, MachineFile* file, std::string* error);

// Writes the device states and registry values in which machine differs from
// the loaded one back into the file, atomically: the file is replaced whole or
// not at all. Writes nothing when nothing changed.
bool SaveMachineFile(const MachineFile& file, const Machine& machine, std::string* error);

// The document for a machine, as SaveMachineFile would write it.
nlohmann::ordered_json UpdatedDocument(const MachineFile& file, const Machine& machine);

// The built-in demo machine's JSON text.
const std::string& DemoMachineText();

} // namespace simulator
