#include "Addresses.h"

#include <charconv>
#include <cstdio>

namespace devsim {

namespace {

std::optional<unsigned> ParseDecimal(std::string_view text, unsigned max)
{
    // from_chars would take a sign or be fine with "007"; a three-digit bound keeps "0000001"
    // from passing as 1.
    if (text.empty() || text.size() > 3)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

std::optional<std::uint8_t> ParseHexPair(std::string_view text)
{
    if (text.size() != 2)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + 2, value, 16);
    if (error != std::errc{} || end != text.data() + 2)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text)
{
    std::uint32_t address = 0;
    for (int octet = 0; octet < 4; ++octet) {
        const std::size_t dot = text.find('.');
        const bool last = octet == 3;
        if (last != (dot == std::string_view::npos))
            return std::nullopt;
        const auto value = ParseDecimal(text.substr(0, dot), 255);
        if (!value)
            return std::nullopt;
        address = address << 8 | *value;
        text = last ? std::string_view{} : text.substr(dot + 1);
    }
    return address;
}

std::string FormatDottedQuad(std::uint32_t address)
{
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFFu) + '.' +
           std::to_string(address >> 8 & 0xFFu) + '.' + std::to_string(address & 0xFFu);
}

std::optional<MacAddress> ParseMac(std::string_view text)
{
    if (text.size() != 17)
        return std::nullopt;
    MacAddress mac{};
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i > 0 && text[i * 3 - 1] != ':')
            return std::nullopt;
        const auto byte = ParseHexPair(text.substr(i * 3, 2));
        if (!byte)
            return std::nullopt;
        mac[i] = *byte;
    }
    return mac;
}

std::string FormatMac(const MacAddress& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::optional<int> PrefixLength(std::uint32_t mask)
{
    int length = 0;
    while (length < 32 && (mask & (0x80000000u >> length)) != 0)
        ++length;
    const std::uint32_t contiguous = length == 0 ? 0 : 0xFFFFFFFFu << (32 - length);
    if (mask != contiguous)
        return std::nullopt;
    return length;
}

} // namespace devsim
