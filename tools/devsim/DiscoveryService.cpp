#include "DiscoveryService.h"

#include "Datagrams.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace devsim {

namespace {

// A UDP datagram can be this long; a shorter buffer would hide how long the tool's really was.
constexpr std::size_t kMaxDatagram = 65536;

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

std::string EndpointText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ':' + std::to_string(ntohs(address.sin_port));
}

DiscoveryService::DiscoveryService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log,
                                   AddressMover moveAddress)
    : m_loop(loop), m_devices(devices), m_log(log), m_moveAddress(std::move(moveAddress)),
      m_buffer(kMaxDatagram)
{}

std::string DiscoveryService::Open(const std::string& bindAddress, std::uint16_t port)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, bindAddress.c_str(), &local.sin_addr) != 1)
        return "--bind " + bindAddress + ": not an IPv4 address";

    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return SystemError("socket");
    // Several simulators may share a namespace and its port; searches arrive as broadcasts.
    const int on = 1;
    if (::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return SystemError("setsockopt");
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return SystemError("bind " + bindAddress + ':' + std::to_string(port));

    m_socket = std::move(socket);
    m_loop.Watch(m_socket.Get(), POLLIN, [this](short) { OnReadable(); });
    return {};
}

std::uint16_t DiscoveryService::Port() const
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

void DiscoveryService::OnReadable()
{
    // Drained each time: a burst of requests is answered in one round of the loop.
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received =
            ::recvfrom(m_socket.Get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                m_log.Write(JsonLine("receive_error").Text("reason", std::strerror(errno)));
            return;
        }
        HandleDatagram(std::span(m_buffer.data(), static_cast<std::size_t>(received)), from);
    }
}

void DiscoveryService::HandleDatagram(std::span<const std::uint8_t> datagram,
                                      const sockaddr_in& from)
{
    const auto junk = [&](const char* reason) {
        m_log.Write(JsonLine("junk")
                        .Text("from", EndpointText(from))
                        .Number("length", static_cast<long long>(datagram.size()))
                        .Text("reason", reason)
                        .Text("hex", HexBytes(datagram)));
    };
    switch (CheckHead(datagram)) {
    case HeadCheck::TooShort:
        return junk("shorter than signature and kind");
    case HeadCheck::BadSignature:
        return junk("bad signature");
    case HeadCheck::Ok:
        break;
    }
    switch (KindOf(datagram)) {
    case static_cast<std::uint8_t>(DatagramKind::SearchRequest):
        // Answered whatever its length: the log's "length" lets a test check it was 180.
        return AnswerSearch(datagram, from);
    case static_cast<std::uint8_t>(DatagramKind::ModifyRequest):
        if (datagram.size() != kModifyRequestSize)
            return junk("modify request not 180 bytes");
        return ApplyModify(datagram, from);
    case static_cast<std::uint8_t>(DatagramKind::SearchReply):
        // Another device's reply (or our own) heard on the wire.
        m_log.Write(JsonLine("heard_reply")
                        .Text("from", EndpointText(from))
                        .Number("length", static_cast<long long>(datagram.size())));
        return;
    default:
        return junk("unknown kind");
    }
}

void DiscoveryService::AnswerSearch(std::span<const std::uint8_t> datagram, const sockaddr_in& from)
{
    m_log.Write(JsonLine("search")
                    .Text("from", EndpointText(from))
                    .Number("length", static_cast<long long>(datagram.size()))
                    .Text("sender_address", SearchSenderAddress(datagram))
                    .Text("hex", HexBytes(datagram)));
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const unsigned delay = m_devices[i].settings.replyDelayMs;
        if (delay == 0) {
            SendReply(m_devices[i], from);
            continue;
        }
        // The reply shows the settings at sending time; the index stays valid because the
        // device list never changes size.
        m_loop.After(std::chrono::milliseconds(delay),
                     [this, i, from] { SendReply(m_devices[i], from); });
    }
}

void DiscoveryService::SendReply(const Device& device, const sockaddr_in& to)
{
    const std::string mac = FormatMac(device.settings.mac);
    // Checked at sending time: a delayed reply may fall into the reboot.
    if (device.state.rebooting) {
        m_log.Write(JsonLine("unanswered")
                        .Text("to", EndpointText(to))
                        .Text("mac", mac)
                        .Text("reason", "rebooting"));
        return;
    }
    const SearchReply reply = BuildSearchReply(device.settings);
    for (unsigned copy = 0; copy < device.settings.replyCopies; ++copy) {
        // Logged before it leaves, so whoever has received a reply finds its line in the log.
        m_log.Write(JsonLine("reply")
                        .Text("to", EndpointText(to))
                        .Text("mac", mac)
                        .Text("ip", device.settings.ip));
        const ssize_t sent = ::sendto(m_socket.Get(), reply.data(), reply.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent < 0) {
            m_log.Write(JsonLine("send_error")
                            .Text("to", EndpointText(to))
                            .Text("mac", mac)
                            .Text("reason", std::strerror(errno)));
            return;
        }
    }
}

void DiscoveryService::ApplyModify(std::span<const std::uint8_t> datagram, const sockaddr_in& from)
{
    const ModifyRequest request = ParseModifyRequest(datagram.first<kModifyRequestSize>());
    const std::string mac = FormatMac(request.mac);
    m_log.Write(JsonLine("modify")
                    .Text("from", EndpointText(from))
                    .Number("length", static_cast<long long>(datagram.size()))
                    .Text("current_address", request.currentAddress)
                    .Text("ip", request.ipAddress)
                    .Text("mask", request.subnetMask)
                    .Text("gateway", request.gateway)
                    .Text("dns", request.dns)
                    .Text("mac", mac)
                    .Number("http_port", request.httpPort)
                    .Number("rtsp_port", request.rtspPort)
                    .Number("mobile_port", request.mobilePort)
                    .Number("dhcp", request.dhcpEnabled)
                    .Text("hex", HexBytes(datagram)));

    bool matched = false;
    for (std::size_t index = 0; index < m_devices.size(); ++index) {
        Device& device = m_devices[index];
        DeviceSettings& settings = device.settings;
        if (settings.mac != request.mac)
            continue;
        matched = true;
        if (device.state.rebooting) {
            m_log.Write(JsonLine("ignored")
                            .Text("from", EndpointText(from))
                            .Text("mac", mac)
                            .Text("reason", "rebooting"));
            continue;
        }
        const DeviceSettings before = settings;
        std::string changes;
        const auto note = [&changes](const char* key, const std::string& value) {
            changes += changes.empty() ? "{" : ",";
            changes += JsonQuoted(key) + ':' + value;
        };
        // The tool leaves the address fields zero when it switches DHCP on: an empty field
        // keeps the device's value.
        const auto address = [&](const char* key, std::string& field, const std::string& value) {
            if (!value.empty() && value != field) {
                field = value;
                note(key, JsonQuoted(value));
            }
        };
        const auto number = [&](const char* key, auto& field, auto value) {
            if (value != field) {
                field = value;
                note(key, std::to_string(value));
            }
        };
        address("ip", settings.ip, request.ipAddress);
        address("mask", settings.mask, request.subnetMask);
        address("gateway", settings.gateway, request.gateway);
        address("dns", settings.dns, request.dns);
        number("http_port", settings.httpPort, request.httpPort);
        number("rtsp_port", settings.rtspPort, request.rtspPort);
        number("mobile_port", settings.mobilePort, request.mobilePort);
        number("dhcp", settings.dhcp, request.dhcpEnabled);
        m_log.Write(JsonLine("modified")
                        .Text("mac", mac)
                        .Raw("changes", changes.empty() ? "{}" : changes + "}"));

        const bool moved = settings.ip != before.ip || settings.mask != before.mask;
        if (moved && !device.isClone && m_moveAddress)
            m_moveAddress({before.ip, before.mask, settings.ip, settings.mask});
        if (!changes.empty() && m_settingsChanged)
            m_settingsChanged(index, before);
    }
    if (!matched)
        m_log.Write(JsonLine("ignored")
                        .Text("from", EndpointText(from))
                        .Text("mac", mac)
                        .Text("reason", "no device with this MAC"));
}

} // namespace devsim
