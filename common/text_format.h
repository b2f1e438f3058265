// Numbers, bytes and counts as the programs around the tool, the trace and
// machine files write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A number as "0x" and at least minimumDigits hexadecimal digits, in small
// letters or in capitals: "0x6" (the trace), "0x180200A" (machine files),
// "0xE0000231" with eight digits (a Windows code in the log).
std::string HexNumber(std::uint64_t value, int minimumDigits = 1, bool capitals = false);

// A byte as two hexadecimal digits, in small letters or in capitals: "0a".
std::string HexByte(std::uint8_t byte, bool capitals = false);

// Bytes as two small hexadecimal digits each, separated by spaces: "31 00".
std::string HexBytes(const std::uint8_t* data, std::size_t size);

// A registry value's type as the log and the report name it: "REG_SZ", or
// "type N".
std::string RegistryTypeName(std::uint32_t type);

// A Configuration Manager code by its name where it is a common one
// ("CR_NO_SUCH_DEVNODE"), else "a Configuration Manager code"; and that name
// with the code in hexadecimal, "CR_NO_SUCH_DEVNODE, 0x0000000D".
std::string ConfigurationCodeName(std::uint32_t code);
std::string ConfigurationCode(std::uint32_t code);

// A count and its noun: "1 adapter", "2 adapters".
std::string CountOf(std::size_t count, const std::string& noun);
