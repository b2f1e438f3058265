// Holds a named mutex, as another deployment would, for some seconds, then
// lets it go; or, with "abandon", ends without letting it go, as a killed
// deployment would. Prints "held" once it has it.
//
//   hold_mutex NAME SECONDS [abandon]
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        (void)std::fputs("usage: hold_mutex NAME SECONDS [abandon]\n", stderr);
        return 2;
    }
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, argv[1]);
    if (mutex == nullptr) {
        (void)std::fprintf(stderr, "hold_mutex: error %lu\n", ::GetLastError());
        return 1;
    }
    (void)std::puts("held");
    (void)std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) * 1000);
    if (argc < 4 || std::wcscmp(argv[3], L"abandon") != 0) {
        ::ReleaseMutex(mutex);
    }
    return 0;
}
