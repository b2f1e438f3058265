// The standard streams of the Windows programs.
#include "platform/win/win_console.h"

#include <windows.h>

#include <cstdio>

namespace {

bool WriteStream(DWORD which, std::FILE* stream, const char* text, std::size_t length)
{
    HANDLE output = GetStdHandle(which);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || output == nullptr || !GetConsoleMode(output, &mode)) {
        bool written = std::fwrite(text, 1, length, stream) == length;
        return std::fflush(stream) == 0 && written;
    }
    bool written = true;
    // At most one code unit per byte, and a CR before each LF.
    WCHAR wide[2 * 1024];
    while (length > 0) {
        int chunk = length < 1024 ? static_cast<int>(length) : 1024;
        while (chunk < static_cast<int>(length) && chunk > 0 && (text[chunk] & 0xC0) == 0x80) {
            --chunk; // never split a UTF-8 sequence
        }
        if (chunk == 0) {
            chunk = length < 1024 ? static_cast<int>(length) : 1024;
        }
        WCHAR decoded[1024];
        int units = MultiByteToWideChar(CP_UTF8, 0, text, chunk, decoded, 1024);
        int count = 0;
        for (int i = 0; i < units; ++i) {
            if (decoded[i] == L'\n') {
                wide[count++] = L'\r';
            }
            wide[count++] = decoded[i];
        }
        DWORD shown = 0;
        written = WriteConsoleW(output, wide, static_cast<DWORD>(count), &shown, nullptr) != FALSE &&
                  shown == static_cast<DWORD>(count) && written;
        text += chunk;
        length -= static_cast<std::size_t>(chunk);
    }
    return written;
}

} // namespace

namespace winconsole {

bool WriteOutput(const char* text, std::size_t length)
{
    return WriteStream(STD_OUTPUT_HANDLE, stdout, text, length);
}

bool WriteError(const char* text, std::size_t length)
{
    return WriteStream(STD_ERROR_HANDLE, stderr, text, length);
}

} // namespace winconsole
