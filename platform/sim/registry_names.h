// Registry key and value names compare without regard to letter case, one
// UTF-16 code unit at a time, as the registry compares them.
#pragma once

#include <cstddef>
#include <string>

namespace simulator {

// The lower case of a code unit, or the code unit itself. A letter has a lower
// case here only when the two are each other's simple case mapping: "Σ" and
// "σ" are one name, while the final "ς", the Kelvin sign and the dotted
// capital "İ" each stand for themselves.
char16_t RegistryLowerCase(char16_t unit);

// A name in the one letter case by which names are compared.
std::u16string FoldedRegistryName(const char16_t* name, std::size_t length);

bool SameRegistryName(const char16_t* first, std::size_t firstLength, const char16_t* second, std::size_t secondLength);
bool SameRegistryName(const std::u16string& first, const std::u16string& second);

} // namespace simulator
