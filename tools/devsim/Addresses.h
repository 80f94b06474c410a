// Address texts as the devices and the config file write them: dotted IPv4 quads, MAC addresses
// as six colon-separated hex pairs, and the prefix length a subnet mask stands for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devsim {

using MacAddress = std::array<std::uint8_t, 6>;

// Strict: exactly four decimal numbers 0-255 separated by dots, nothing around them. The result
// is in host order, first octet in the most significant byte.
std::optional<std::uint32_t> ParseDottedQuad(std::string_view text);
std::string FormatDottedQuad(std::uint32_t address);

// "AA:BB:CC:DD:EE:FF", two hex digits a group, either case.
std::optional<MacAddress> ParseMac(std::string_view text);
// Upper case, as the tool's list shows it.
std::string FormatMac(const MacAddress& mac);

// 255.255.255.0 gives 24; a mask whose one bits are not contiguous from the top gives nothing.
std::optional<int> PrefixLength(std::uint32_t mask);

} // namespace devsim
