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

std::string ConfigurationCodeName(std::uint32_t code)
{
    switch (code) {
    case 0x03:
        return "CR_INVALID_POINTER";
    case 0x05:
        return "CR_INVALID_DEVNODE";
    case 0x0D:
        return "CR_NO_SUCH_DEVNODE";
    case 0x13:
        return "CR_FAILURE";
    case 0x25:
        return "CR_NO_SUCH_VALUE";
    case 0x33:
        return "CR_ACCESS_DENIED";
    default:
        return "a Configuration Manager code";
    }
}

std::string ConfigurationCode(std::uint32_t code)
{
    return ConfigurationCodeName(code) + ", " + HexNumber(code, 8, true);
}
