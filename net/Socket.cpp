#include "Socket.h"

#include <chrono>
#include <cstring>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#endif

namespace net {

void CloseSocket(SocketHandle socket)
{
#ifdef _WIN32
    ::closesocket(socket);
#else
    ::close(socket);
#endif
}

int LastSocketError()
{
#ifdef _WIN32
    return ::WSAGetLastError();
#else
    return errno;
#endif
}

bool SetBlocking(SocketHandle socket, bool blocking)
{
#ifdef _WIN32
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
#else
    const int flags = ::fcntl(socket, F_GETFL, 0);
    if (flags < 0)
        return false;
    return ::fcntl(socket, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
#endif
}

bool IsConnectPending(int error)
{
#ifdef _WIN32
    return error == WSAEWOULDBLOCK;
#else
    return error == EINPROGRESS;
#endif
}

namespace {

int PendingError(SocketHandle socket)
{
    int error = 0;
#ifdef _WIN32
    int size = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return LastSocketError();
#else
    socklen_t size = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return LastSocketError();
#endif
    return error;
}

#ifndef _WIN32
// Polls `socket` for `events` for at most `milliseconds` in all, going on after a signal: more
// than 0 when ready, 0 when the time ran out, less than 0 on an error. poll rather than select: a
// descriptor number above FD_SETSIZE must not overrun an fd_set.
int PollSocket(SocketHandle socket, short events, int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{socket, events, 0};
        const int ready = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready >= 0 || errno != EINTR)
            return ready;
    }
}
#endif

} // namespace

ConnectWait WaitForConnect(SocketHandle socket, int milliseconds)
{
#ifdef _WIN32
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int ready = ::select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0)
        return ConnectWait::TimedOut;
    if (ready < 0 || FD_ISSET(socket, &failed))
        return ConnectWait::Failed;
#else
    const int ready = PollSocket(socket, POLLOUT, milliseconds);
    if (ready == 0)
        return ConnectWait::TimedOut;
    if (ready < 0)
        return ConnectWait::Failed;
#endif
    return PendingError(socket) == 0 ? ConnectWait::Connected : ConnectWait::Failed;
}

bool WaitReadable(SocketHandle socket, int milliseconds)
{
#ifdef _WIN32
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    // A failed select is left for the receive that follows to report.
    return ::select(0, &readable, nullptr, nullptr, &limit) != 0;
#else
    // A failed poll is left for the receive that follows to report.
    return PollSocket(socket, POLLIN, milliseconds) != 0;
#endif
}

namespace {

bool SetTimeoutOption(SocketHandle socket, int option, int milliseconds)
{
#ifdef _WIN32
    const DWORD limit = static_cast<DWORD>(milliseconds);
    const char* value = reinterpret_cast<const char*>(&limit);
    const int size = sizeof limit;
#else
    const timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const void* value = &limit;
    const socklen_t size = sizeof limit;
#endif
    return ::setsockopt(socket, SOL_SOCKET, option, value, size) == 0;
}

} // namespace

bool SetSendReceiveTimeouts(SocketHandle socket, int milliseconds)
{
    return SetSendTimeout(socket, milliseconds) && SetReceiveTimeout(socket, milliseconds);
}

bool SetSendTimeout(SocketHandle socket, int milliseconds)
{
    return SetTimeoutOption(socket, SO_SNDTIMEO, milliseconds);
}

bool SetReceiveTimeout(SocketHandle socket, int milliseconds)
{
    return SetTimeoutOption(socket, SO_RCVTIMEO, milliseconds);
}

int Send(SocketHandle socket, const char* data, int length)
{
#ifdef _WIN32
    return ::send(socket, data, length, 0);
#else
    return static_cast<int>(::send(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL));
#endif
}

int Receive(SocketHandle socket, char* buffer, int capacity)
{
#ifdef _WIN32
    return ::recv(socket, buffer, capacity, 0);
#else
    for (;;) {
        const ssize_t count = ::recv(socket, buffer, static_cast<size_t>(capacity), 0);
        if (count >= 0 || errno != EINTR)
            return static_cast<int>(count);
    }
#endif
}

bool ResolveIpv4(const char* host, std::uint16_t port, sockaddr_in& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    const bool usable = found->ai_addr != nullptr && found->ai_addrlen >= sizeof address;
    if (usable)
        std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(port);
    return usable;
}

} // namespace net
