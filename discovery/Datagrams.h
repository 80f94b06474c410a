// The three UDP datagrams of device discovery on port 6789, as plain functions over byte
// buffers. Every datagram starts with "searching.." and a zero byte, then a kind byte. Byte
// orders differ by datagram and field and are followed exactly: a reply's ports are big-endian
// but its type is little-endian; a modify request's ports are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

constexpr std::uint16_t kDiscoveryPort = 6789;
constexpr std::size_t kSearchRequestSize = 180;
constexpr std::size_t kSearchReplySize = 316;
constexpr std::size_t kModifyRequestSize = 180;

enum class DatagramKind : std::uint8_t { SearchReply = 1, SearchRequest = 2, ModifyRequest = 3 };

using MacAddress = std::array<std::uint8_t, 6>;

// A search from one local address (host byte order), which the request carries as text.
void BuildSearchRequest(std::span<std::uint8_t, kSearchRequestSize> datagram,
                        std::uint32_t localAddress);

// True when the first 12 bytes are "searching.." and a zero byte and byte 12 is 1. Nothing else
// is tested, the length included.
bool IsSearchReply(std::span<const std::uint8_t, kSearchReplySize> datagram);

// The fields of a reply, 8-bit texts in the system's ANSI code page.
struct SearchReply {
    std::string model;
    MacAddress mac{};
    std::string ipAddress;
    std::string subnetMask;
    std::string gateway;
    std::string dns;
    std::string deviceName;
    std::string firmwareVersion;
    std::int32_t deviceType = 0;
    std::int32_t httpPort = 0;
    std::int32_t rtspPort = 0;
    std::int32_t mobilePort = 0;
    std::uint8_t dhcpEnabled = 0;
    std::uint8_t channelCount = 0;
};

// Each text ends at its first zero byte or one byte before the end of its field.
SearchReply ReadSearchReply(std::span<const std::uint8_t, kSearchReplySize> datagram);

// New settings for the device with `mac`, now at `currentAddress`. Addresses are in host byte
// order; without `addressesGiven` (DHCP switched on) the four address texts stay zero.
struct ModifySettings {
    std::uint32_t currentAddress = 0;
    bool addressesGiven = true;
    std::uint32_t ipAddress = 0;
    std::uint32_t subnetMask = 0;
    std::uint32_t gateway = 0;
    std::uint32_t dns = 0;
    MacAddress mac{};
    std::int32_t httpPort = 0;
    std::int32_t rtspPort = 0;
    std::int32_t mobilePort = 0;
    std::uint8_t dhcpEnabled = 0;
};

void BuildModifyRequest(std::span<std::uint8_t, kModifyRequestSize> datagram,
                        const ModifySettings& settings);

// "%d.%d.%d.%d", most significant byte first.
std::string DottedText(std::uint32_t address);

// "%02X:%02X:%02X:%02X:%02X:%02X".
std::string MacText(const MacAddress& mac);

// Reads a MAC text back group by group, up to two hex digits each (leading blanks allowed),
// separated by colons; the groups from the first that cannot be read on stay zero.
MacAddress MacFromText(std::string_view text);
