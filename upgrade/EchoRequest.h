// The ICMP echo request the raw-socket probe sends (RFC 792, without IP header) and the test of
// what comes back, as plain functions over bytes.
//
// Request layout, 44 bytes:
//   0  type 8          1  code 0          2  checksum (RFC 1071 over all 44 bytes)
//   4  identifier: the low 16 bits of the process id, least significant byte first
//   6  sequence 0, always
//   8  the system's millisecond tick count at sending, least significant byte first
//   12 32 bytes of 0x45
// The identifier and the tick count are in the PC's own (little-endian) byte order, not network
// order, as the probe has always sent them; the reply echoes them unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

constexpr std::size_t kEchoRequestSize = 44;
using EchoRequest = std::array<std::uint8_t, kEchoRequestSize>;

// The Internet checksum of RFC 1071: the one's complement of the one's complement sum of the
// bytes taken as 16-bit big-endian words, an odd last byte padded with a zero byte. Stored
// most significant byte first it makes the words of the whole message sum to 0xFFFF.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// The request as sent, checksum filled in.
EchoRequest BuildEchoRequest(std::uint16_t identifier, std::uint32_t tickCount);

// True when `datagram` (as a raw socket delivers it: IP header first, its length four times the
// low nibble of the first byte) is an echo reply to a request with `identifier`: at least 8 ICMP
// bytes after the IP header, type 0, and the identifier at ICMP offset 4 in the request's byte
// order. The sequence number and the payload are not looked at.
bool IsEchoReplyFor(std::span<const std::uint8_t> datagram, std::uint16_t identifier);
