#include "Ping.h"

#include "framework/Handles.h"
#include "net/Socket.h"
#include "upgrade/EchoRequest.h"

#include <iphlpapi.h>
#include <icmpapi.h>

#include <array>
#include <cstring>
#include <memory>

namespace {

constexpr DWORD kIcmpWaitMs = 1'000;
constexpr long kRawWaitSeconds = 1;
constexpr int kDatagramCapacity = 1024;

// The payload the system service sends, its closing NUL included.
constexpr char kIcmpPayload[] = "Data Buffer";
// Room for one reply record, the echoed payload and an ICMP error's 8 bytes, as IcmpSendEcho2
// requires. That is 48 bytes with the 32-bit record the probe was first written for; the 64-bit
// record is larger, and a 48-byte buffer there makes every call fail as if the device were down.
constexpr DWORD kIcmpReplySize = sizeof(ICMP_ECHO_REPLY) + sizeof kIcmpPayload + 8;

struct IcmpHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::IcmpCloseHandle(handle); }
};
using IcmpHandle = fw::UniqueHandle<IcmpHandleTraits>;

struct AddressInfoDeleter {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};

// The first IPv4 address of a dotted address or a host name. An empty text is refused: the
// resolver would take it for this PC.
bool FirstIpv4(const std::string& address, in_addr& found)
{
    if (address.empty())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (::getaddrinfo(address.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return false;
    const std::unique_ptr<addrinfo, AddressInfoDeleter> owner(list);
    if (list->ai_addr == nullptr || list->ai_addrlen < sizeof(sockaddr_in))
        return false;
    found = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
    return true;
}

// Closes the socket first, then leaves `error` as the thread's last error, so that the close
// cannot overwrite the cause a caller may read.
bool Fail(net::UniqueSocket& socket, DWORD error)
{
    socket.Reset();
    ::SetLastError(error);
    return false;
}

std::int64_t PerformanceCounter()
{
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

bool PingIcmp(const std::string& address)
{
    in_addr target{};
    if (!FirstIpv4(address, target))
        return false;
    const IcmpHandle icmp(::IcmpCreateFile());
    if (!icmp)
        return false;
    char payload[sizeof kIcmpPayload];
    std::memcpy(payload, kIcmpPayload, sizeof payload);
    alignas(ICMP_ECHO_REPLY) std::array<unsigned char, kIcmpReplySize> reply{};
    const DWORD replies =
        ::IcmpSendEcho2(icmp.Get(), nullptr, nullptr, nullptr, target.s_addr, payload,
                        sizeof payload, nullptr, reply.data(), kIcmpReplySize, kIcmpWaitMs);
    return replies != 0;
}

bool PingRaw(PingResult& result, const std::string& address, std::int64_t frequency)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1 &&
        !FirstIpv4(address, target.sin_addr))
        return false;

    net::UniqueSocket socket(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (!socket)
        return false;
    const auto identifier = static_cast<std::uint16_t>(::GetCurrentProcessId());
    const EchoRequest request = BuildEchoRequest(identifier, ::GetTickCount());

    const std::int64_t sentAt = PerformanceCounter();
    if (::sendto(socket.Get(), reinterpret_cast<const char*>(request.data()),
                 static_cast<int>(request.size()), 0, reinterpret_cast<const sockaddr*>(&target),
                 sizeof target) == SOCKET_ERROR)
        return Fail(socket, static_cast<DWORD>(::WSAGetLastError()));

    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket.Get(), &readable);
    timeval limit{kRawWaitSeconds, 0};
    const int ready = ::select(0, &readable, nullptr, nullptr, &limit);
    if (ready == SOCKET_ERROR)
        return Fail(socket, static_cast<DWORD>(::WSAGetLastError()));
    if (ready == 0)
        return Fail(socket, WSAETIMEDOUT);

    // A raw socket hands over the IP header in front of the ICMP message.
    std::array<std::uint8_t, kDatagramCapacity> datagram{};
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int count =
        ::recvfrom(socket.Get(), reinterpret_cast<char*>(datagram.data()), kDatagramCapacity, 0,
                   reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (count == SOCKET_ERROR)
        return Fail(socket, static_cast<DWORD>(::WSAGetLastError()));
    const std::int64_t receivedAt = PerformanceCounter();

    if (!IsEchoReplyFor(
            std::span<const std::uint8_t>(datagram.data(), static_cast<std::size_t>(count)),
            identifier))
        return Fail(socket, ERROR_UNEXP_NET_ERR);
    result.replyAddress = from.sin_addr.s_addr;
    result.replyTimeMs =
        frequency > 0 ? static_cast<std::uint32_t>((receivedAt - sentAt) * 1000 / frequency) : 0;
    return true;
}
