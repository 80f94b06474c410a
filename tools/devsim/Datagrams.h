// The three discovery datagrams on UDP port 6789, as a device sees them: it reads searches and
// Modify IP requests and writes search replies. Written from the byte tables on purpose apart
// from the tool's own codec, so that a mistake in one is caught by the other.
#pragma once

#include "Addresses.h"
#include "Device.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace devsim {

inline constexpr std::uint16_t kDiscoveryPort = 6789;

inline constexpr std::size_t kHeadSize = 13; // signature and kind
inline constexpr std::size_t kSearchRequestSize = 180;
inline constexpr std::size_t kSearchReplySize = 316;
inline constexpr std::size_t kModifyRequestSize = 180;

enum class DatagramKind : std::uint8_t {
    SearchReply = 1,
    SearchRequest = 2,
    ModifyRequest = 3,
};

enum class HeadCheck {
    Ok,
    TooShort,     // fewer than the 13 bytes of signature and kind
    BadSignature, // not "searching.." and a zero byte
};

HeadCheck CheckHead(std::span<const std::uint8_t> datagram);
// Byte 12; only meaningful when CheckHead said Ok.
std::uint8_t KindOf(std::span<const std::uint8_t> datagram);

// The text of a field: its bytes up to the first zero, or all of them when there is none (what
// the sender really wrote, for the log). A field cut short by the end of the datagram yields
// what is there.
std::string FieldText(std::span<const std::uint8_t> datagram, std::size_t offset,
                      std::size_t width);

// A search request's senderAddress (bytes 13 to 28).
std::string SearchSenderAddress(std::span<const std::uint8_t> datagram);

using SearchReply = std::array<std::uint8_t, kSearchReplySize>;

// Texts are cut to the field width minus one and zero-filled; reserved bytes are zero.
SearchReply BuildSearchReply(const DeviceSettings& device);

struct ModifyRequest {
    std::string currentAddress;
    std::string ipAddress;
    std::string subnetMask;
    std::string gateway;
    std::string dns;
    MacAddress mac{};
    std::int32_t httpPort = 0;
    std::int32_t rtspPort = 0;
    std::int32_t mobilePort = 0;
    std::uint8_t dhcpEnabled = 0;
};

ModifyRequest ParseModifyRequest(std::span<const std::uint8_t, kModifyRequestSize> datagram);

} // namespace devsim
