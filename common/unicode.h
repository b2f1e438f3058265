// UTF-16 to UTF-8, without heap allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

constexpr std::uint32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes the code point at *at, no further than end, and moves *at past it.
// A surrogate without its partner decodes as U+FFFD.
std::uint32_t DecodeUtf16(const platform::WCHAR** at, const platform::WCHAR* end);

// What DecodeUtf8 answers for a byte that begins no character.
constexpr std::uint32_t NOT_UTF8 = 0xFFFFFFFF;

// Decodes the character whose UTF-8 bytes begin at *at, no further than end,
// and moves *at past it. A byte that begins none (a lead byte no sequence
// has, a stray continuation byte, or the start of a truncated or overlong
// sequence, of a surrogate's encoding or of one past U+10FFFF) answers
// NOT_UTF8, and *at moves past that byte alone.
std::uint32_t DecodeUtf8(const char** at, const char* end);

// Writes the UTF-8 bytes of a code point into out; answers how many (1 to 4).
std::size_t EncodeUtf8(std::uint32_t point, char out[4]);

// UTF-16 text as UTF-8, a surrogate without its partner as U+FFFD. For the
// programs around the tool; the tool itself writes through PrintMessage,
// without the heap.
std::string Utf16ToUtf8(const platform::WCHAR* text, std::size_t length);

// An ASCII letter in lower case; any other code unit as it is. Names compare
// so where the platform compares them without regard to case (registry key
// and value names, device names in a path).
inline char16_t AsciiLowerUnit(char16_t unit)
{
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// The text with the ASCII letters in lower case (AsciiLowerUnit).
std::u16string AsciiLowerCase(std::u16string text);

// Whether two names are the same but for the letter case of ASCII letters,
// as the platform compares registry key and value names.
bool SameIgnoringAsciiCase(const char16_t* first, std::size_t firstLength, const char16_t* second,
                           std::size_t secondLength);
bool SameIgnoringAsciiCase(const std::u16string& first, const std::u16string& second);

// The text that UTF-16LE bytes hold: whole code units up to the first zero
// unit, or to the end.
std::u16string TextOfUtf16(const std::uint8_t* bytes, std::size_t size);

// A text on one line: each control character (below U+0020, and U+007F) as
// \xNN, so that a name holding a line break cannot split a line in two.
std::string EscapeControlCharacters(const std::string& utf8);
