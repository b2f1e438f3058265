// Runs a program as a management system's agent does: detached from any
// console, its standard output and standard error sent to files. Prints the
// program's whole exit status (which a Unix shell would cut to 8 bits) on
// its own standard output, and exits with it.
//
//   detached_run OUT ERR PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HANDLE OpenForWriting(const wchar_t* path, SECURITY_ATTRIBUTES* inherit)
{
    return ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// An argument as the C runtime's parser reads it back.
std::wstring Quoted(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        (void)std::fprintf(stderr, "usage: detached_run OUT ERR PROGRAM [ARGUMENTS...]\n");
        return 125;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE out = OpenForWriting(argv[1], &inherit);
    HANDLE err = OpenForWriting(argv[2], &inherit);
    std::wstring command;
    for (int i = 3; i < argc; ++i) {
        command += (i > 3 ? L" " : L"") + Quoted(argv[i]);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE ||
        !::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                          &process)) {
        (void)std::fprintf(stderr, "detached_run: cannot start the program (error %lu)\n", ::GetLastError());
        return 125;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 125;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    ::CloseHandle(out);
    ::CloseHandle(err);
    (void)std::printf("%lu\n", status);
    return static_cast<int>(status);
}
