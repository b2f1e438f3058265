// How the Windows programs load libraries.
#pragma once

// Makes every library loaded by name, by this process and by the libraries
// the platform loads on its behalf, come from the system directory only, so
// that a library planted beside the executable (in a Downloads folder or on a
// share) is never loaded into an elevated process. Called first thing.
// SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 with
// update KB2533623; where it is missing, the platform's own search order stays.
void RestrictLibrarySearch();
