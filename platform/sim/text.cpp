#include "platform/sim/text.h"

#include "common/text_format.h"

#include "common/unicode.h"

namespace simulator {

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t point = REPLACEMENT_CHARACTER;
        // The lead bytes of sequences; 80 to C1 and F5 to FF lead none.
        std::size_t length = byte < 0x80    ? 1
                             : byte >= 0xF5 ? 0
                             : byte >= 0xF0 ? 4
                             : byte >= 0xE0 ? 3
                             : byte >= 0xC2 ? 2
                                            : 0;
        std::uint32_t minimum = length == 4 ? 0x10000 : length == 3 ? 0x800 : 0x80;
        if (length == 1) {
            point = byte;
        } else if (length > 1 && i + length <= text.size()) {
            std::uint32_t value = byte & (0x7F >> length);
            bool valid = true;
            for (std::size_t k = 1; k < length && valid; ++k) {
                auto next = static_cast<unsigned char>(text[i + k]);
                valid = (next & 0xC0) == 0x80;
                value = (value << 6) | (next & 0x3F);
            }
            if (valid && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                point = value;
            } else {
                length = 1;
            }
        } else {
            length = 1;
        }
        i += length;
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
