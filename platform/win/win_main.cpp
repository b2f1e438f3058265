// The Windows build's process entry: the command line arrives as UTF-16.
// The tool's header comes first: the SDK's macros, defined after it, would
// otherwise replace the names of the boundary's constants.
#include "app/command_dispatch.h"

#include <windows.h>

namespace {

// Makes every library loaded by name, by this process and by the libraries
// the platform loads on its behalf, come from the system directory only, so
// that a library planted beside the executable (in a Downloads folder or on a
// share) is never loaded into an elevated process. SetDefaultDllDirectories
// exists from Windows 8 on, and on Windows 7 with update KB2533623; where it
// is missing, the platform's own search order stays.
void RestrictLibrarySearch()
{
    constexpr DWORD SEARCH_SYSTEM32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel != nullptr ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (found != nullptr) {
        reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(found))(SEARCH_SYSTEM32);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    static_assert(sizeof(wchar_t) == sizeof(platform::WCHAR), "Windows text is UTF-16");
    RestrictLibrarySearch();
    return TessaryMain(argc, reinterpret_cast<const platform::WCHAR* const*>(argv));
}
