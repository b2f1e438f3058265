// Numbers and bytes in hexadecimal, as the programs around the tool write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A 32-bit code as "0x" and eight digits: "0xE0000231".
std::string HexCode(std::uint32_t code);

// Bytes as two digits each, separated by spaces: "31 00", "ff".
std::string HexBytes(const std::uint8_t* data, std::size_t size);
