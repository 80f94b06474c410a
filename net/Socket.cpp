#include "Socket.h"

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
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

} // namespace net
