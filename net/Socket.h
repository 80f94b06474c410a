// The thin socket layer the portable code is written against: Winsock on Windows, BSD sockets
// elsewhere. Only what the program uses: an owner that closes, the error code, the blocking
// switch.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <utility>

namespace net {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle kInvalidSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
#endif

void CloseSocket(SocketHandle socket);
// The error of the last failed socket call on this thread.
int LastSocketError();
bool SetBlocking(SocketHandle socket, bool blocking);

// Owns one socket; an empty owner holds kInvalidSocket.
class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(SocketHandle socket) : m_socket(socket) {}
    UniqueSocket(UniqueSocket&& other) noexcept : m_socket(other.Release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    ~UniqueSocket() { Reset(); }

    SocketHandle Get() const { return m_socket; }
    explicit operator bool() const { return m_socket != kInvalidSocket; }
    SocketHandle Release() { return std::exchange(m_socket, kInvalidSocket); }
    void Reset(SocketHandle socket = kInvalidSocket)
    {
        const SocketHandle old = std::exchange(m_socket, socket);
        if (old != kInvalidSocket)
            CloseSocket(old);
    }

private:
    SocketHandle m_socket = kInvalidSocket;
};

} // namespace net
