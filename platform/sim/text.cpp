#include "platform/sim/text.h"

#include "common/text_format.h"

#include "common/unicode.h"

namespace simulator {

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    const char* at = text.data();
    const char* end = at + text.size();
    while (at < end) {
        std::uint32_t point = DecodeUtf8(&at, end);
        if (point == NOT_UTF8) {
            point = REPLACEMENT_CHARACTER;
        }
        if (point >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(point);
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text)
{
    return ::Utf16ToUtf8(text.data(), text.size());
}

std::vector<std::uint8_t> TextBytes(const std::u16string& text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 2 + 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::u16string TextIn(const std::vector<std::uint8_t>& bytes)
{
    return TextOfUtf16(bytes.data(), bytes.size());
}

std::string QuoteText(const std::u16string& text)
{
    std::string out = "\"";
    for (char c : Utf16ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\x" + HexByte(static_cast<std::uint8_t>(c));
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes)
{
    return ::HexBytes(bytes.data(), bytes.size());
}

int HexDigit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

} // namespace simulator
