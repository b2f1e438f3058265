#include "common/message_output.h"

#include <cstdarg>
#include <cstdio>

#include "common/text_field.h"
#include "common/unicode.h"
#include "platform/platform.h"

using namespace platform;

namespace {

// Collects the formatted bytes on the stack and hands them to the platform in
// as few writes as possible; the tool's output makes no heap allocation.
class OutputLine {
public:
    OutputLine(const OutputLine&) = delete;
    OutputLine& operator=(const OutputLine&) = delete;
    OutputLine() = default;
    ~OutputLine() { Flush(); }

    void Put(char byte) { PutBytes(&byte, 1); }

    // Keeps the bytes of one code point in one write, so that each write
    // holds whole UTF-8 sequences.
    void PutBytes(const char* bytes, SIZE_T count)
    {
        if (length_ + count > sizeof(bytes_)) {
            Flush();
        }
        for (SIZE_T i = 0; i < count; ++i) {
            bytes_[length_++] = bytes[i];
        }
    }

    void PutText(const char* text)
    {
        for (; *text != 0; ++text) {
            Put(*text);
        }
    }

    void PutWideText(const WCHAR* text)
    {
        const WCHAR* end = text + BoundedTextLength(text, 0xFFFFFFFF);
        while (text < end) {
            char bytes[4];
            PutBytes(bytes, EncodeUtf8(DecodeUtf16(&text, end), bytes));
        }
    }

    void Flush()
    {
        if (length_ > 0) {
            WriteStandardOutput(bytes_, length_);
            length_ = 0;
        }
    }

private:
    char bytes_[512] = {};
    SIZE_T length_ = 0;
};

} // namespace

void PrintMessage(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    OutputLine line;
    for (const char* at = format; *at != 0; ++at) {
        if (*at != '%') {
            line.Put(*at);
            continue;
        }
        char number[16];
        switch (at[1]) {
        case 'w':
            if (at[2] == 's') {
                const WCHAR* text = va_arg(arguments, const WCHAR*);
                line.PutWideText(text != nullptr ? text : u"(null)");
                at += 2;
            } else {
                line.Put(*at);
            }
            break;
        case 's': {
            const char* text = va_arg(arguments, const char*);
            line.PutText(text != nullptr ? text : "(null)");
            ++at;
            break;
        }
        case 'd':
            (void)std::snprintf(number, sizeof(number), "%d", va_arg(arguments, int));
            line.PutText(number);
            ++at;
            break;
        case 'u':
            (void)std::snprintf(number, sizeof(number), "%u", va_arg(arguments, unsigned int));
            line.PutText(number);
            ++at;
            break;
        case '%':
            line.Put('%');
            ++at;
            break;
        default:
            line.Put(*at); // a lone "%" at the end, or an unknown conversion
            break;
        }
    }
    va_end(arguments);
}
