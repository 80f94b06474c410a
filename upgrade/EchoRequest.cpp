#include "EchoRequest.h"

namespace {

constexpr std::uint8_t kEchoRequestType = 8;
constexpr std::uint8_t kEchoReplyType = 0;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::uint8_t kPayloadByte = 0x45;

} // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

EchoRequest BuildEchoRequest(std::uint16_t identifier, std::uint32_t tickCount)
{
    EchoRequest request{};
    request[0] = kEchoRequestType;
    request[4] = static_cast<std::uint8_t>(identifier);
    request[5] = static_cast<std::uint8_t>(identifier >> 8);
    for (int i = 0; i < 4; ++i)
        request[8 + i] = static_cast<std::uint8_t>(tickCount >> (8 * i));
    for (std::size_t i = 12; i < request.size(); ++i)
        request[i] = kPayloadByte;
    const std::uint16_t checksum = InternetChecksum(request);
    request[2] = static_cast<std::uint8_t>(checksum >> 8);
    request[3] = static_cast<std::uint8_t>(checksum);
    return request;
}

bool IsEchoReplyFor(std::span<const std::uint8_t> datagram, std::uint16_t identifier)
{
    if (datagram.empty())
        return false;
    const std::size_t headerSize = std::size_t{datagram[0] & 0x0Fu} * 4;
    if (datagram.size() < headerSize + kIcmpHeaderSize)
        return false;
    const std::span<const std::uint8_t> icmp = datagram.subspan(headerSize);
    const auto repliedIdentifier = static_cast<std::uint16_t>(icmp[4] | icmp[5] << 8);
    return icmp[0] == kEchoReplyType && repliedIdentifier == identifier;
}
