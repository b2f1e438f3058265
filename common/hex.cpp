#include "common/hex.h"

namespace {

// Codes in capitals, as Windows writes them; bytes in small letters, as the
// call trace and machine files write them.
constexpr char CODE_DIGITS[] = "0123456789ABCDEF";
constexpr char BYTE_DIGITS[] = "0123456789abcdef";

} // namespace

std::string HexCode(std::uint32_t code)
{
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        text += CODE_DIGITS[(code >> shift) & 0xF];
    }
    return text;
}

std::string HexBytes(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        text += i == 0 ? "" : " ";
        text += BYTE_DIGITS[data[i] >> 4];
        text += BYTE_DIGITS[data[i] & 0xF];
    }
    return text;
}
