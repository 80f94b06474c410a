// The thin socket layer the portable code is written against: Winsock on Windows, BSD sockets
// elsewhere. Only what the program uses: an owner that closes, the error code, the blocking
// switch, and the few calls whose types or reporting differ between the two (connect wait,
// send and receive timeouts, send and receive lengths, IPv4 name resolution).
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

#include <cstdint>
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

// True when a connect on a non-blocking socket failed with `error` only because it is still under
// way: WSAEWOULDBLOCK on Winsock, EINPROGRESS on BSD sockets.
bool IsConnectPending(int error);

enum class ConnectWait { Connected, Failed, TimedOut };

// Waits up to `milliseconds` for a connect started in non-blocking mode to end, then reads the
// socket's pending error so that a refused connection is not taken for an established one.
// Winsock reports a failed connect as an exception rather than as writability, so both are
// watched there; otherwise a refusal would only show after the whole wait.
ConnectWait WaitForConnect(SocketHandle socket, int milliseconds);

// Waits up to `milliseconds` until a receive on `socket` would not block: data, the end of the
// peer's stream or an error are there. False when the time ran out first.
bool WaitReadable(SocketHandle socket, int milliseconds);

// Sets both SO_SNDTIMEO and SO_RCVTIMEO. Winsock takes a DWORD of milliseconds, BSD sockets a
// timeval; a call that runs into the limit fails as if with an error.
bool SetSendReceiveTimeouts(SocketHandle socket, int milliseconds);
// The same for one direction only.
bool SetSendTimeout(SocketHandle socket, int milliseconds);
bool SetReceiveTimeout(SocketHandle socket, int milliseconds);

// One send or recv call with int lengths on both platforms: the count moved, 0 from Receive when
// the peer closed, -1 on an error or a timeout. Send never raises SIGPIPE on a closed peer.
// A receive interrupted by a signal is repeated.
int Send(SocketHandle socket, const char* data, int length);
int Receive(SocketHandle socket, char* buffer, int capacity);

// The first IPv4 address of `host` (dotted text or a name) with `port`, ready for connect.
bool ResolveIpv4(const char* host, std::uint16_t port, sockaddr_in& address);

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
