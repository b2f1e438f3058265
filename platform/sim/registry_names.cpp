#include "platform/sim/registry_names.h"

#include <algorithm>

namespace simulator {

// Generated at build time from the Unicode character database.
extern const char16_t LOWER_CASE_PAIRS[][2];
extern const unsigned LOWER_CASE_PAIR_COUNT;

char16_t RegistryLowerCase(char16_t unit)
{
    const char16_t(*end)[2] = LOWER_CASE_PAIRS + LOWER_CASE_PAIR_COUNT;
    const char16_t(*found)[2] = std::lower_bound(
        LOWER_CASE_PAIRS, end, unit, [](const char16_t(&pair)[2], char16_t value) { return pair[0] < value; });
    return found != end && (*found)[0] == unit ? (*found)[1] : unit;
}

std::u16string FoldedRegistryName(const char16_t* name, std::size_t length)
{
    std::u16string folded(name, length);
    for (char16_t& unit : folded) {
        unit = RegistryLowerCase(unit);
    }
    return folded;
}

bool SameRegistryName(const char16_t* first, std::size_t firstLength, const char16_t* second, std::size_t secondLength)
{
    if (firstLength != secondLength) {
        return false;
    }
    for (std::size_t i = 0; i < firstLength; ++i) {
        if (RegistryLowerCase(first[i]) != RegistryLowerCase(second[i])) {
            return false;
        }
    }
    return true;
}

bool SameRegistryName(const std::u16string& first, const std::u16string& second)
{
    return SameRegistryName(first.data(), first.size(), second.data(), second.size());
}

} // namespace simulator
