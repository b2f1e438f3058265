// Text helpers of the simulated platform: UTF-8 and UTF-16, and the forms in
// which the trace and machine files write texts and bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace simulator {

// UTF-8 to UTF-16; a byte that starts no valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// The UTF-16 bytes of a text followed by its terminating zero.
std::vector<std::uint8_t> TextBytes(const std::u16string& text);

// The text that UTF-16 bytes hold: whole code units up to the first zero
// unit, or to the end (a last odd byte is not part of it).
std::u16string TextIn(const std::vector<std::uint8_t>& bytes);

// A text as the trace writes it: in double quotes, with '"' and '\' escaped
// and control characters as \xNN.
std::string QuoteText(const std::u16string& text);

// Bytes as two hexadecimal digits each, separated by spaces: "31 00"
// (common/text_format.h's HexBytes, for a vector).
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

// The value of a hexadecimal digit, or -1.
int HexDigit(char c);

} // namespace simulator
