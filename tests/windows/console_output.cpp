// Writes texts that are hard on an output path through the backend's output
// function: Cyrillic, a character beyond the BMP, an unpaired surrogate that
// the message formatter turns into U+FFFD, and a line longer than the
// backend's console chunk with a two-byte character across the chunk's end.
//
//   console_output --expected FILE   writes the bytes a pipe should carry
//   console_output                   writes the texts to standard output
//   console_output --readback FILE   also, on a console, reads the console's
//                                    text back and writes it to FILE; exits 1
//                                    when it is not the text written
//   console_output --error ...       the same through the programs' function
//                                    for standard error
//
// The tool's headers come first: the SDK's macros, defined after them, would
// otherwise replace the names of the boundary's constants.
#include "common/message_output.h"
#include "common/unicode.h"
#include "platform/win/win_console.h"
#include "platform/win/windows_operations.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The backend converts at most this many bytes for one console write.
constexpr std::size_t CONSOLE_CHUNK = 1024;

const char CYRILLIC_AND_BEYOND_THE_BMP[] =
    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80\n" // Привет, мир
    "\xF0\x9F\x98\x80 U+1F600\n";
const char FROM_AN_UNPAIRED_SURROGATE[] = "a\xEF\xBF\xBD"
                                          "b\n";

// One write longer than a chunk, whose U+00E9 starts at the chunk's last byte.
std::string LongLine()
{
    return std::string(CONSOLE_CHUNK - 1, 'a') + "\xC3\xA9" + std::string(40, 'b') + "\n";
}

// The UTF-8 text of every case, lines ending in "\n".
std::string Texts()
{
    return std::string(CYRILLIC_AND_BEYOND_THE_BMP) + FROM_AN_UNPAIRED_SURROGATE + LongLine();
}

void WriteTexts(bool toError)
{
    auto write = [toError](const char* text, std::size_t length) {
        if (toError) {
            (void)winconsole::WriteError(text, length);
        } else {
            platform::WriteStandardOutput(text, length);
        }
    };
    write(CYRILLIC_AND_BEYOND_THE_BMP, std::strlen(CYRILLIC_AND_BEYOND_THE_BMP));
    if (toError) {
        write(FROM_AN_UNPAIRED_SURROGATE, std::strlen(FROM_AN_UNPAIRED_SURROGATE));
    } else {
        PrintMessage("a%wsb\n", u"\xD800");
    }
    std::string line = LongLine();
    write(line.data(), line.size());
}

// The console's rows above the cursor, trailing blanks dropped, as UTF-8
// lines; empty when the stream is not a console.
std::string ConsoleText(DWORD stream)
{
    HANDLE output = ::GetStdHandle(stream);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(output, &info)) {
        return "";
    }
    std::string text;
    for (SHORT row = 0; row < info.dwCursorPosition.Y; ++row) {
        std::wstring units(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(output, units.data(), static_cast<DWORD>(units.size()), COORD{0, row}, &read);
        units.resize(read);
        while (!units.empty() && units.back() == L' ') {
            units.pop_back();
        }
        text += Utf16ToUtf8(reinterpret_cast<const platform::WCHAR*>(units.data()), units.size()) + "\n";
    }
    return text;
}

bool WriteFile(const char* path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    platform::UseOperations(&platform::WindowsOperations());
    bool toError = argc >= 2 && std::strcmp(argv[1], "--error") == 0;
    if (toError) {
        --argc;
        ++argv;
    }
    if (argc == 3 && std::strcmp(argv[1], "--expected") == 0) {
        std::string lines;
        for (char c : Texts()) {
            lines += c == '\n' ? "\r\n" : std::string(1, c);
        }
        return WriteFile(argv[2], lines) ? 0 : 2;
    }
    WriteTexts(toError);
    if (argc == 3 && std::strcmp(argv[1], "--readback") == 0) {
        std::string seen = ConsoleText(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
        if (!WriteFile(argv[2], seen)) {
            return 2;
        }
        return seen == Texts() ? 0 : 1;
    }
    return 0;
}
