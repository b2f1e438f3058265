// How the Windows programs load libraries. Linking library_search.cpp into a
// program is all it takes: the search is restricted as the process starts.
#pragma once

// Makes every library loaded by name, by this process and by the libraries
// the platform loads on its behalf, come from the system directory only, so
// that a library planted beside the executable (in a Downloads folder or on a
// share) is never loaded into an elevated process. It runs as the process
// attaches, from a thread-local-storage callback: before the C runtime starts
// and before any static constructor, one of which (the stack protector's)
// asks the cryptographic provider for a guard value, which loads libraries.
// SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 with
// update KB2533623; where it is missing, the platform's own search order stays.
void RestrictLibrarySearch();
