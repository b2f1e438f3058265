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

namespace {

void NTAPI RestrictOnAttach(PVOID /*module*/, DWORD reason, PVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        RestrictLibrarySearch();
    }
}

} // namespace

// The loader calls the callbacks of the .CRT$XL* sections, which the C
// runtime's TLS directory spans, on the process's first thread before its
// entry point.
#if defined(_MSC_VER)
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma section(".CRT$XLB", read)
extern "C" __declspec(allocate(".CRT$XLB")) const PIMAGE_TLS_CALLBACK tessaryRestrictLibrarySearch = RestrictOnAttach;
#else
extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK tessaryRestrictLibrarySearch =
    RestrictOnAttach;
#endif
