#include "common/text_format.h"

#include "platform/platform.h"

namespace {

constexpr char SMALL_DIGITS[] = "0123456789abcdef";
constexpr char CAPITAL_DIGITS[] = "0123456789ABCDEF";

} // namespace

std::string HexNumber(std::uint64_t value, int minimumDigits, bool capitals)
{
    const char* digits = capitals ? CAPITAL_DIGITS : SMALL_DIGITS;
    std::string text;
    for (int shift = 60; shift >= 0; shift -= 4) {
        auto digit = static_cast<unsigned>((value >> shift) & 0xF);
        if (digit != 0 || !text.empty() || shift < minimumDigits * 4) {
            text += digits[digit];
        }
    }
    return "0x" + text;
}

std::string HexByte(std::uint8_t byte, bool capitals)
{
    const char* digits = capitals ? CAPITAL_DIGITS : SMALL_DIGITS;
    return {digits[byte >> 4], digits[byte & 0xF]};
}

std::string HexBytes(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        text += (i == 0 ? "" : " ") + HexByte(data[i]);
    }
    return text;
}

std::string CountOf(std::size_t count, const std::string& noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string RegistryTypeName(std::uint32_t type)
{
    return type == platform::REG_SZ ? "REG_SZ" : "type " + std::to_string(type);
}
