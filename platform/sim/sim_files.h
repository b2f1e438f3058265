// File access for the simulated platform's own files: the machine file and
// the trace file. They belong to the user, so they are read whole, written
// whole or not at all, and kept as the user had them.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace simulator {

// Reads a whole regular file of at most maxBytes. A directory, a device or any
// other file that is not a regular one, and a larger file, are refused before
// anything is read; on failure answers false with the reason.
bool ReadWholeFile(const std::string& path, std::uintmax_t maxBytes, std::string* text, std::string* error);

// Answers false, with the reason, when the file could not be replaced by
// ReplaceFileAtomically: the user made it read-only (no write permission bit
// is set), or its folder does not let a new file be made beside it.
bool CanReplaceFile(const std::string& path, std::string* error);

// Replaces a file's content whole: writes a new file of a name no other run
// uses beside it (beside the target of a symbolic link, which stays), gives it
// the old file's permissions and, where the process may, its owner and group,
// flushes it to disk, renames it over the old one and flushes the folder. A
// crash leaves either the old content or the new, never a mixture; a failure
// leaves no new file behind.
bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string* error);
// The same, with the content written by write, which answers false when it
// could not write it all.
bool ReplaceFileAtomically(const std::string& path, const std::function<bool(std::ostream&)>& write,
                           std::string* error);

} // namespace simulator
