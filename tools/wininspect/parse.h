// Parsing of wininspect's numeric arguments and of dotted IPv4 addresses; plain functions
// without Win32 types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wininspect {

// Decimal (a leading '-' gives the two's complement, for signed lParam values) or 0x
// hexadecimal; nullopt on anything else or on overflow of 64 bits.
std::optional<std::uint64_t> ParseNumber(std::wstring_view text);

// "a.b.c.d", each part 1 to 3 digits and at most 255, packed first part high as the IP
// address control keeps it.
std::optional<std::uint32_t> ParseDottedAddress(std::wstring_view text);

std::wstring DottedAddress(std::uint32_t address);

} // namespace wininspect
