// The raw-socket probe's echo request and the reply test, byte by byte.
#include "upgrade/EchoRequest.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The one's complement sum of the bytes as big-endian 16-bit words, folded: what a receiver
// computes over a message to check it (0xFFFF when the checksum is right).
std::uint16_t OnesComplementSum(const std::uint8_t* bytes, std::size_t length)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < length; i += 2)
        sum += std::uint64_t{bytes[i]} << 8 | (i + 1 < length ? bytes[i + 1] : 0u);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

TEST(InternetChecksum, MatchesRfc1071)
{
    const struct {
        const char* name;
        Bytes bytes;
        std::uint16_t checksum;
    } cases[] = {
        // The worked example of RFC 1071: the sum is 0xDDF2.
        {"Rfc1071Example", {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, 0x220D},
        {"Empty", {}, 0xFFFF},
        {"OddLastBytePadded", {0x01}, 0xFEFF},
        {"OddAfterWords", {0x12, 0x34, 0x56}, static_cast<std::uint16_t>(~(0x1234 + 0x5600))},
        // End-around carries.
        {"CarryFolded", {0xFF, 0xFF, 0x00, 0x01}, 0xFFFE},
        {"AllOnes", {0xFF, 0xFF, 0xFF, 0xFF}, 0x0000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(InternetChecksum(c.bytes), c.checksum);
    }
}

TEST(BuildEchoRequest, LaysOutTheFieldsInTheProbesByteOrder)
{
    const EchoRequest request = BuildEchoRequest(0x1234, 0xA1B2C3D4);
    Bytes expected = {8, 0, request[2], request[3], 0x34, 0x12, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1};
    expected.insert(expected.end(), 32, 0x45);
    EXPECT_EQ(Bytes(request.begin(), request.end()), expected);
}

TEST(BuildEchoRequest, ChecksumMakesTheWholeMessageSumToAllOnes)
{
    const struct {
        std::uint16_t identifier;
        std::uint32_t tick;
    } cases[] = {{0, 0}, {0x1234, 0xA1B2C3D4}, {0xFFFF, 0xFFFFFFFF}, {0x00F7, 0x0001'0000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier);
        const EchoRequest request = BuildEchoRequest(c.identifier, c.tick);
        EXPECT_EQ(OnesComplementSum(request.data(), request.size()), 0xFFFF);
        // The same checksum with its field zeroed, stored most significant byte first.
        EchoRequest zeroed = request;
        zeroed[2] = zeroed[3] = 0;
        EXPECT_EQ(InternetChecksum(zeroed), request[2] << 8 | request[3]);
    }
}

// A datagram as a raw socket delivers it: an IP header of `headerWords` 32-bit words, then an
// ICMP message of `type` with `identifier` written least significant byte first, then `payload`
// bytes.
Bytes Datagram(int headerWords, std::uint8_t type, std::uint16_t identifier, std::size_t payload)
{
    Bytes datagram(static_cast<std::size_t>(headerWords) * 4, 0);
    datagram[0] = static_cast<std::uint8_t>(0x40 | headerWords);
    const auto low = static_cast<std::uint8_t>(identifier);
    const auto high = static_cast<std::uint8_t>(identifier >> 8);
    const Bytes icmp = {type, 0, 0xAB, 0xCD, low, high, 0, 0};
    datagram.insert(datagram.end(), icmp.begin(), icmp.end());
    datagram.insert(datagram.end(), payload, 0x45);
    return datagram;
}

Bytes Cut(Bytes bytes, std::size_t length)
{
    bytes.resize(length);
    return bytes;
}

TEST(IsEchoReplyFor, AcceptsOnlyAnEchoReplyWithOurIdentifier)
{
    constexpr std::uint16_t kOurs = 0x1234;
    const struct {
        const char* name;
        Bytes datagram;
        bool accepted;
    } cases[] = {
        {"Reply", Datagram(5, 0, kOurs, 36), true},
        {"ReplyWithoutPayload", Datagram(5, 0, kOurs, 0), true},
        // The header length comes from the first byte's low nibble.
        {"ReplyAfterIpOptions", Datagram(6, 0, kOurs, 36), true},
        {"ReplyAfterLongestHeader", Datagram(15, 0, kOurs, 0), true},
        {"OneByteShort", Cut(Datagram(5, 0, kOurs, 0), 27), false},
        {"OneByteShortAfterOptions", Cut(Datagram(6, 0, kOurs, 0), 31), false},
        {"HeaderOnly", Cut(Datagram(5, 0, kOurs, 0), 20), false},
        {"OneByte", {0x45}, false},
        {"Empty", {}, false},
        // Our own request seen on the way out, an error message, another process's reply.
        {"EchoRequest", Datagram(5, 8, kOurs, 36), false},
        {"Unreachable", Datagram(5, 3, kOurs, 36), false},
        {"OtherIdentifier", Datagram(5, 0, 0x1235, 36), false},
        {"IdentifierInNetworkOrder", Datagram(5, 0, 0x3412, 36), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsEchoReplyFor(c.datagram, kOurs), c.accepted);
    }
}

} // namespace
