// File access for the simulated platform's own files.
#pragma once

#include <string>

namespace simulator {

// Reads a whole file; on failure answers false with the reason.
bool ReadWholeFile(const std::string& path, std::string* text, std::string* error);

// Replaces a file's content whole: writes a new file beside it, flushes it to
// disk and renames it over the old one, so that a crash leaves either the
// old content or the new, never a mixture.
bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string* error);

} // namespace simulator
