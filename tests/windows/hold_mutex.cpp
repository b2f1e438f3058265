// Holds a named mutex, made as a deployment makes it, for some seconds, then
// lets it go; or, with "abandon", ends without letting it go, as a killed
// deployment would; or, with "foreign", holds one owned by Users, as a user
// who took the name first would; or, with "file", holds the file of that
// path open for reading with no sharing, as any account that may read it
// can. Prints "held" once it has it.
//
//   hold_mutex NAME SECONDS [abandon | foreign | file]
// The tool's header first: the SDK's macros would replace its constants' names.
#include "deploy/win_system.h"

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cwchar>

namespace {

// Says it holds what it holds, then keeps it the seconds asked for.
void Hold(const wchar_t* seconds)
{
    (void)std::puts("held");
    (void)std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::wcstoul(seconds, nullptr, 10)) * 1000);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        (void)std::fputs("usage: hold_mutex NAME SECONDS [abandon | foreign | file]\n", stderr);
        return 2;
    }
    if (argc >= 4 && std::wcscmp(argv[3], L"file") == 0) {
        HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            (void)std::fprintf(stderr, "hold_mutex: the file: error %lu\n", ::GetLastError());
            return 1;
        }
        Hold(argv[2]);
        ::CloseHandle(file);
        return 0;
    }
    bool foreign = argc >= 4 && std::wcscmp(argv[3], L"foreign") == 0;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(foreign ? L"O:BUD:(A;;GA;;;WD)" : RUN_LOCK_SECURITY,
                                                                SDDL_REVISION_1, &descriptor, nullptr)) {
        (void)std::fprintf(stderr, "hold_mutex: security: error %lu\n", ::GetLastError());
        return 1;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    HANDLE mutex = ::CreateMutexW(&attributes, TRUE, argv[1]);
    if (mutex == nullptr) {
        (void)std::fprintf(stderr, "hold_mutex: error %lu\n", ::GetLastError());
        return 1;
    }
    Hold(argv[2]);
    if (argc < 4 || std::wcscmp(argv[3], L"abandon") != 0) {
        ::ReleaseMutex(mutex);
    }
    return 0;
}
