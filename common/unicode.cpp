#include "common/unicode.h"

#include "common/text_format.h"

using namespace platform;

std::uint32_t DecodeUtf16(const WCHAR** at, const WCHAR* end)
{
    std::uint32_t unit = *(*at)++;
    if (unit >= 0xD800 && unit <= 0xDBFF && *at < end && **at >= 0xDC00 && **at <= 0xDFFF) {
        std::uint32_t low = *(*at)++;
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return REPLACEMENT_CHARACTER;
    }
    return unit;
}

std::uint32_t DecodeUtf8(const char** at, const char* end)
{
    auto byte = static_cast<unsigned char>(**at);
    // The lead bytes of sequences; 80 to C1 and F5 to FF lead none.
    std::size_t length = byte < 0x80    ? 1
                         : byte >= 0xF5 ? 0
                         : byte >= 0xF0 ? 4
                         : byte >= 0xE0 ? 3
                         : byte >= 0xC2 ? 2
                                        : 0;
    if (length == 1) {
        ++*at;
        return byte;
    }
    if (length == 0 || static_cast<std::size_t>(end - *at) < length) {
        ++*at;
        return NOT_UTF8;
    }
    std::uint32_t point = byte & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>((*at)[k]);
        if ((next & 0xC0) != 0x80) {
            ++*at;
            return NOT_UTF8;
        }
        point = (point << 6) | (next & 0x3F);
    }
    std::uint32_t minimum = length == 4 ? 0x10000 : length == 3 ? 0x800 : 0x80;
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        ++*at;
        return NOT_UTF8;
    }
    *at += length;
    return point;
}

std::size_t EncodeUtf8(std::uint32_t point, char out[4])
{
    if (point < 0x80) {
        out[0] = static_cast<char>(point);
        return 1;
    }
    if (point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (point >> 6));
        out[1] = static_cast<char>(0x80 | (point & 0x3F));
        return 2;
    }
    if (point < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (point >> 12));
        out[1] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (point & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (point >> 18));
    out[1] = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (point & 0x3F));
    return 4;
}

std::string Utf16ToUtf8(const WCHAR* text, std::size_t length)
{
    std::string out;
    const WCHAR* end = text + length;
    while (text < end) {
        char bytes[4];
        out.append(bytes, EncodeUtf8(DecodeUtf16(&text, end), bytes));
    }
    return out;
}

std::string EscapeControlCharacters(const std::string& utf8)
{
    std::string escaped;
    escaped.reserve(utf8.size());
    for (char c : utf8) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            escaped += "\\x" + HexByte(byte);
        } else {
            escaped += c;
        }
    }
    return escaped;
}

bool SameIgnoringAsciiCase(const char16_t* first, std::size_t firstLength, const char16_t* second,
                           std::size_t secondLength)
{
    if (firstLength != secondLength) {
        return false;
    }
    for (std::size_t i = 0; i < firstLength; ++i) {
        if (AsciiLowerUnit(first[i]) != AsciiLowerUnit(second[i])) {
            return false;
        }
    }
    return true;
}

bool SameIgnoringAsciiCase(const std::u16string& first, const std::u16string& second)
{
    return SameIgnoringAsciiCase(first.data(), first.size(), second.data(), second.size());
}

std::u16string AsciiLowerCase(std::u16string text)
{
    for (char16_t& unit : text) {
        unit = AsciiLowerUnit(unit);
    }
    return text;
}

std::u16string TextOfUtf16(const std::uint8_t* bytes, std::size_t size)
{
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size && (bytes[i] != 0 || bytes[i + 1] != 0); i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
}
