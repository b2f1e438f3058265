#include "platform/sim/registry_names.h"

#include "common/unicode.h"

#include <algorithm>

namespace simulator {

std::u16string FoldedRegistryName(const char16_t* name, std::size_t length)
{
    std::u16string folded(name, length);
    for (char16_t& unit : folded) {
        unit = AsciiLowerUnit(unit);
    }
    return folded;
}

bool SameRegistryName(const char16_t* first, std::size_t firstLength, const char16_t* second, std::size_t secondLength)
{
    return SameIgnoringAsciiCase(first, firstLength, second, secondLength);
}

std::uint64_t RegistryNameHash(const char16_t* name, std::size_t length)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (std::size_t i = 0; i < length; ++i) {
        hash = (hash ^ AsciiLowerUnit(name[i])) * 1099511628211ull;
    }
    return hash;
}

bool SameRegistryName(const std::u16string& first, const std::u16string& second)
{
    return SameRegistryName(first.data(), first.size(), second.data(), second.size());
}

} // namespace simulator
