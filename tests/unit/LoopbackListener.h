// A TCP listener on 127.0.0.1 for the tests' fake peers (devices, web servers), and the two
// socket chores every fake peer does.
#pragma once

#include "net/Socket.h"

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace test {

// A socket listening on 127.0.0.1 at a port the system picks. A small receive buffer, inherited
// by the accepted connections, lets a device that stops reading stall the sender quickly.
class Listener {
public:
    explicit Listener(int backlog = 8, int receiveBuffer = 0)
        : m_socket(::socket(AF_INET, SOCK_STREAM, 0))
    {
        if (receiveBuffer > 0)
            ::setsockopt(Fd(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(Fd(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(Fd(), backlog) != 0 ||
            ::getsockname(Fd(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot listen on loopback");
        m_port = ntohs(address.sin_port);
    }
    int Fd() const { return m_socket.Get(); }
    std::uint16_t Port() const { return m_port; }
    // True when a connection arrives within `wait` (and is left waiting to be accepted).
    bool ConnectionWaiting(std::chrono::milliseconds wait) const
    {
        pollfd entry{Fd(), POLLIN, 0};
        return ::poll(&entry, 1, static_cast<int>(wait.count())) > 0;
    }

private:
    net::UniqueSocket m_socket;
    std::uint16_t m_port = 0;
};

// Connection attempts that fill a listener's queue (made with a backlog of 0), so that further
// attempts go unanswered, as towards a device that has gone away. Keep them while testing.
inline std::vector<net::UniqueSocket> FillBacklog(const Listener& listener)
{
    std::vector<net::UniqueSocket> queued;
    for (int i = 0; i < 3; ++i) {
        queued.emplace_back(::socket(AF_INET, SOCK_STREAM, 0));
        net::SetBlocking(queued.back().Get(), false);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(listener.Port());
        ::connect(queued.back().Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return queued;
}

// Waits for `fd` to become readable within `wait`, giving up early when `stop` is set.
inline bool Readable(int fd, std::chrono::milliseconds wait, const std::atomic<bool>& stop)
{
    const auto end = std::chrono::steady_clock::now() + wait;
    while (!stop && std::chrono::steady_clock::now() < end) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 20) > 0)
            return true;
    }
    return false;
}

// Sends all of `bytes`; false when the peer stops taking them.
inline bool SendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const int count = net::Send(fd, bytes.data(), static_cast<int>(bytes.size()));
        if (count <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace test
