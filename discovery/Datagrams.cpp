#include "Datagrams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kSignature[12] = "searching..";
constexpr std::size_t kKindOffset = 12;

// Offsets of the fields, from the datagrams' byte tables.
namespace request {
constexpr std::size_t kSenderAddress = 13;
}
namespace reply {
constexpr std::size_t kModel = 13, kModelWidth = 10;
constexpr std::size_t kMac = 23;
constexpr std::size_t kIpAddress = 30, kSubnetMask = 46, kGateway = 62, kDns = 78;
constexpr std::size_t kAddressWidth = 16;
constexpr std::size_t kDeviceName = 94, kFirmwareVersion = 158, kLongTextWidth = 64;
constexpr std::size_t kDeviceType = 224, kHttpPort = 228, kRtspPort = 232, kMobilePort = 236;
constexpr std::size_t kDhcpEnabled = 248, kChannelCount = 249;
} // namespace reply
namespace modify {
constexpr std::size_t kCurrentAddress = 13, kIpAddress = 29, kSubnetMask = 45, kGateway = 61,
                      kDns = 77;
constexpr std::size_t kAddressWidth = 16;
constexpr std::size_t kMac = 93;
constexpr std::size_t kHttpPort = 100, kRtspPort = 104, kMobilePort = 108;
constexpr std::size_t kDhcpEnabled = 112;
} // namespace modify

void WriteHead(std::span<std::uint8_t> datagram, DatagramKind kind)
{
    std::fill(datagram.begin(), datagram.end(), std::uint8_t{0});
    std::memcpy(datagram.data(), kSignature, sizeof(kSignature));
    datagram[kKindOffset] = static_cast<std::uint8_t>(kind);
}

// A zero-terminated text in a field of `width` bytes; the text is cut to width - 1 bytes.
void WriteText(std::span<std::uint8_t> datagram, std::size_t offset, std::size_t width,
               std::string_view text)
{
    std::fill_n(datagram.begin() + static_cast<std::ptrdiff_t>(offset), width, std::uint8_t{0});
    std::memcpy(datagram.data() + offset, text.data(), std::min(text.size(), width - 1));
}

std::string ReadText(std::span<const std::uint8_t> datagram, std::size_t offset, std::size_t width)
{
    const auto* begin = reinterpret_cast<const char*>(datagram.data() + offset);
    const std::size_t length = std::find(begin, begin + width - 1, '\0') - begin;
    return std::string(begin, length);
}

std::int32_t ReadBigEndian(std::span<const std::uint8_t> datagram, std::size_t offset)
{
    return static_cast<std::int32_t>(std::uint32_t{datagram[offset]} << 24 |
                                     std::uint32_t{datagram[offset + 1]} << 16 |
                                     std::uint32_t{datagram[offset + 2]} << 8 |
                                     std::uint32_t{datagram[offset + 3]});
}

std::int32_t ReadLittleEndian(std::span<const std::uint8_t> datagram, std::size_t offset)
{
    return static_cast<std::int32_t>(std::uint32_t{datagram[offset]} |
                                     std::uint32_t{datagram[offset + 1]} << 8 |
                                     std::uint32_t{datagram[offset + 2]} << 16 |
                                     std::uint32_t{datagram[offset + 3]} << 24);
}

void WriteLittleEndian(std::span<std::uint8_t> datagram, std::size_t offset, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        datagram[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsFormatSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

} // namespace

void BuildSearchRequest(std::span<std::uint8_t, kSearchRequestSize> datagram,
                        std::uint32_t localAddress)
{
    WriteHead(datagram, DatagramKind::SearchRequest);
    WriteText(datagram, request::kSenderAddress, reply::kAddressWidth, DottedText(localAddress));
}

bool IsSearchReply(std::span<const std::uint8_t, kSearchReplySize> datagram)
{
    return std::memcmp(datagram.data(), kSignature, sizeof(kSignature)) == 0 &&
           datagram[kKindOffset] == static_cast<std::uint8_t>(DatagramKind::SearchReply);
}

SearchReply ReadSearchReply(std::span<const std::uint8_t, kSearchReplySize> datagram)
{
    using namespace reply;
    SearchReply fields;
    fields.model = ReadText(datagram, kModel, kModelWidth);
    std::copy_n(datagram.begin() + kMac, fields.mac.size(), fields.mac.begin());
    fields.ipAddress = ReadText(datagram, kIpAddress, kAddressWidth);
    fields.subnetMask = ReadText(datagram, kSubnetMask, kAddressWidth);
    fields.gateway = ReadText(datagram, kGateway, kAddressWidth);
    fields.dns = ReadText(datagram, kDns, kAddressWidth);
    fields.deviceName = ReadText(datagram, kDeviceName, kLongTextWidth);
    fields.firmwareVersion = ReadText(datagram, kFirmwareVersion, kLongTextWidth);
    fields.deviceType = ReadLittleEndian(datagram, kDeviceType);
    fields.httpPort = ReadBigEndian(datagram, kHttpPort);
    fields.rtspPort = ReadBigEndian(datagram, kRtspPort);
    fields.mobilePort = ReadBigEndian(datagram, kMobilePort);
    fields.dhcpEnabled = datagram[kDhcpEnabled];
    fields.channelCount = datagram[kChannelCount];
    return fields;
}

void BuildModifyRequest(std::span<std::uint8_t, kModifyRequestSize> datagram,
                        const ModifySettings& settings)
{
    using namespace modify;
    WriteHead(datagram, DatagramKind::ModifyRequest);
    WriteText(datagram, kCurrentAddress, kAddressWidth, DottedText(settings.currentAddress));
    if (settings.addressesGiven) {
        WriteText(datagram, kIpAddress, kAddressWidth, DottedText(settings.ipAddress));
        WriteText(datagram, kSubnetMask, kAddressWidth, DottedText(settings.subnetMask));
        WriteText(datagram, kGateway, kAddressWidth, DottedText(settings.gateway));
        WriteText(datagram, kDns, kAddressWidth, DottedText(settings.dns));
    }
    std::copy(settings.mac.begin(), settings.mac.end(), datagram.begin() + kMac);
    WriteLittleEndian(datagram, kHttpPort, settings.httpPort);
    WriteLittleEndian(datagram, kRtspPort, settings.rtspPort);
    WriteLittleEndian(datagram, kMobilePort, settings.mobilePort);
    datagram[kDhcpEnabled] = settings.dhcpEnabled;
}

std::string DottedText(std::uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", static_cast<int>(address >> 24),
                  static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                  static_cast<int>(address & 0xFF));
    return text;
}

std::string MacText(const MacAddress& mac)
{
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

MacAddress MacFromText(std::string_view text)
{
    // As "%2x" reads: white space skipped, then at most two hex digits; a ':' between groups.
    MacAddress mac{};
    std::size_t at = 0;
    for (std::size_t group = 0; group < mac.size(); ++group) {
        if (group > 0) {
            if (at >= text.size() || text[at] != ':')
                break;
            ++at;
        }
        while (at < text.size() && IsFormatSpace(text[at]))
            ++at;
        int value = 0;
        int digits = 0;
        while (digits < 2 && at < text.size() && HexDigit(text[at]) >= 0) {
            value = value * 16 + HexDigit(text[at]);
            ++at;
            ++digits;
        }
        if (digits == 0)
            break;
        mac[group] = static_cast<std::uint8_t>(value);
    }
    return mac;
}
