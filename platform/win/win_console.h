// The standard streams of the Windows programs: UTF-8 text shown right on a
// console whatever its code page, and passed on as it is to a file or pipe.
// Holds no SDK type, so it may be included before or after <windows.h>.
#pragma once

#include <cstddef>

namespace winconsole {

// Writes UTF-8 text to standard output, or to standard error. A console is
// given it as UTF-16 through its wide API, each line ended with CR LF; a file
// or pipe gets the bytes through the C runtime, whose text mode ends each
// line with CR LF. False when not all of it could be written (a full disk,
// a closed pipe, no such stream).
bool WriteOutput(const char* text, std::size_t length);
bool WriteError(const char* text, std::size_t length);

} // namespace winconsole
