#include "platform/win/library_search.h"

#include <windows.h>

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
