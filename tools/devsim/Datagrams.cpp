#include "Datagrams.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace devsim {

namespace {

constexpr std::array<std::uint8_t, 12> kSignature = {'s', 'e', 'a', 'r', 'c', 'h',
                                                     'i', 'n', 'g', '.', '.', 0};

// SearchReply layout.
constexpr std::size_t kReplyModel = 13, kReplyModelWidth = 10;
constexpr std::size_t kReplyMac = 23;
constexpr std::size_t kReplyIp = 30, kReplyMask = 46, kReplyGateway = 62, kReplyDns = 78;
constexpr std::size_t kAddressWidth = 16;
constexpr std::size_t kReplyName = 94, kReplyFirmware = 158, kLongTextWidth = 64;
constexpr std::size_t kReplyType = 224;
constexpr std::size_t kReplyHttpPort = 228, kReplyRtspPort = 232, kReplyMobilePort = 236;
constexpr std::size_t kReplyDhcp = 248, kReplyChannels = 249;

// SearchRequest layout.
constexpr std::size_t kSearchSender = 13;

// ModifyRequest layout.
constexpr std::size_t kModifyCurrent = 13, kModifyIp = 29, kModifyMask = 45;
constexpr std::size_t kModifyGateway = 61, kModifyDns = 77, kModifyMac = 93;
constexpr std::size_t kModifyHttpPort = 100, kModifyRtspPort = 104, kModifyMobilePort = 108;
constexpr std::size_t kModifyDhcp = 112;

void WriteText(SearchReply& reply, std::size_t offset, std::size_t width, std::string_view text)
{
    // The field keeps at least one zero byte; the reply starts all zero, so the rest is filled.
    const std::size_t length = std::min(text.size(), width - 1);
    std::memcpy(reply.data() + offset, text.data(), length);
}

// The reply's ports are big-endian while its device type is little-endian: the devices really
// mix the two in one datagram.
void PutBigEndian32(SearchReply& reply, std::size_t offset, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
        reply[offset + i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
}

void PutLittleEndian32(SearchReply& reply, std::size_t offset, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
        reply[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::int32_t GetLittleEndian32(std::span<const std::uint8_t> datagram, std::size_t offset)
{
    std::uint32_t bits = 0;
    for (std::size_t i = 4; i-- > 0;)
        bits = bits << 8 | datagram[offset + i];
    return static_cast<std::int32_t>(bits);
}

} // namespace

HeadCheck CheckHead(std::span<const std::uint8_t> datagram)
{
    if (datagram.size() < kHeadSize)
        return HeadCheck::TooShort;
    if (!std::equal(kSignature.begin(), kSignature.end(), datagram.begin()))
        return HeadCheck::BadSignature;
    return HeadCheck::Ok;
}

std::uint8_t KindOf(std::span<const std::uint8_t> datagram)
{
    return datagram[12];
}

std::string FieldText(std::span<const std::uint8_t> datagram, std::size_t offset, std::size_t width)
{
    if (offset >= datagram.size())
        return {};
    const auto field = datagram.subspan(offset, std::min(width, datagram.size() - offset));
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

std::string SearchSenderAddress(std::span<const std::uint8_t> datagram)
{
    return FieldText(datagram, kSearchSender, kAddressWidth);
}

SearchReply BuildSearchReply(const DeviceSettings& device)
{
    SearchReply reply{};
    std::copy(kSignature.begin(), kSignature.end(), reply.begin());
    reply[12] = static_cast<std::uint8_t>(DatagramKind::SearchReply);
    if (device.rawModel)
        std::copy(device.rawModel->begin(), device.rawModel->end(), reply.begin() + kReplyModel);
    else
        WriteText(reply, kReplyModel, kReplyModelWidth, device.model);
    std::copy(device.mac.begin(), device.mac.end(), reply.begin() + kReplyMac);
    WriteText(reply, kReplyIp, kAddressWidth, device.ip);
    WriteText(reply, kReplyMask, kAddressWidth, device.mask);
    WriteText(reply, kReplyGateway, kAddressWidth, device.gateway);
    WriteText(reply, kReplyDns, kAddressWidth, device.dns);
    WriteText(reply, kReplyName, kLongTextWidth, device.name);
    WriteText(reply, kReplyFirmware, kLongTextWidth, device.firmware);
    PutLittleEndian32(reply, kReplyType, device.type);
    PutBigEndian32(reply, kReplyHttpPort, device.httpPort);
    PutBigEndian32(reply, kReplyRtspPort, device.rtspPort);
    PutBigEndian32(reply, kReplyMobilePort, device.mobilePort);
    reply[kReplyDhcp] = device.dhcp;
    reply[kReplyChannels] = device.channels;
    return reply;
}

ModifyRequest ParseModifyRequest(std::span<const std::uint8_t, kModifyRequestSize> datagram)
{
    ModifyRequest request;
    request.currentAddress = FieldText(datagram, kModifyCurrent, kAddressWidth);
    request.ipAddress = FieldText(datagram, kModifyIp, kAddressWidth);
    request.subnetMask = FieldText(datagram, kModifyMask, kAddressWidth);
    request.gateway = FieldText(datagram, kModifyGateway, kAddressWidth);
    request.dns = FieldText(datagram, kModifyDns, kAddressWidth);
    std::copy_n(datagram.begin() + kModifyMac, request.mac.size(), request.mac.begin());
    // Unlike the reply, the request carries its ports little-endian.
    request.httpPort = GetLittleEndian32(datagram, kModifyHttpPort);
    request.rtspPort = GetLittleEndian32(datagram, kModifyRtspPort);
    request.mobilePort = GetLittleEndian32(datagram, kModifyMobilePort);
    request.dhcpEnabled = datagram[kModifyDhcp];
    return request;
}

} // namespace devsim
