// The two reachability probes that follow a device through its reboot after an upgrade: one
// through the system's ICMP service, one over a raw ICMP socket. Each call opens and closes its
// own handle or socket and waits at most about a second. Windows only; Winsock must be started.
#pragma once

#include <cstdint>
#include <string>

// Filled by a successful PingRaw.
struct PingResult {
    // IPv4 source address of the reply, network byte order.
    std::uint32_t replyAddress = 0;
    // Milliseconds from just before the send to just after the receive.
    std::uint32_t replyTimeMs = 0;
};

// One echo with the 12-byte payload "Data Buffer\0" through IcmpSendEcho2, 1000 ms wait. True when
// a reply came. `address` is a dotted IPv4 address or a host name (its first IPv4 address).
bool PingIcmp(const std::string& address);

// One echo request (EchoRequest.h) over a raw ICMP socket, then one datagram read within 1 s;
// true when it is the reply to this process's request. `frequency` is the performance-counter
// frequency, used only for `replyTimeMs`. On false the thread's last error tells why:
// WSAETIMEDOUT when nothing came, ERROR_UNEXP_NET_ERR when something else came first (a foreign
// ICMP message makes the probe fail; it is not retried), or the error of the failed call. Without
// the rights raw sockets need, it fails at once, every time.
bool PingRaw(PingResult& result, const std::string& address, std::int64_t frequency);
