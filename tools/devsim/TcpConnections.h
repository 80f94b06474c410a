// The open TCP connections of one service, by id: each socket is watched on the loop, and its
// output is queued and written without blocking. Timers keep the id, not the connection, since
// the connection may be gone by the time they run.
#pragma once

#include "EventLoop.h"
#include "UniqueFd.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace devsim {

// What every service's connection has; a service adds its own state in a derived struct.
struct TcpConnection {
    UniqueFd socket;
    std::uint64_t id = 0;
    std::string peer; // "IP:PORT"
    std::size_t device = 0;
    std::string output; // not yet sent
    bool closeAfterOutput = false;
};

template <std::derived_from<TcpConnection> Connection> class TcpConnections {
public:
    // The poll revents that woke a connection's socket.
    using ReadyHandler = std::function<void(Connection&, short revents)>;

    TcpConnections(EventLoop& loop, ReadyHandler onReady)
        : m_loop(loop), m_onReady(std::move(onReady))
    {}
    ~TcpConnections()
    {
        for (const auto& [id, connection] : m_connections)
            m_loop.Unwatch(connection->socket.Get());
    }
    TcpConnections(const TcpConnections&) = delete;
    TcpConnections& operator=(const TcpConnections&) = delete;

    // Takes an accepted socket and watches it for input.
    Connection& Add(UniqueFd socket, std::string peer, std::size_t device)
    {
        auto connection = std::make_unique<Connection>();
        connection->id = m_nextId++;
        connection->peer = std::move(peer);
        connection->device = device;
        connection->socket = std::move(socket);
        Connection& added = *connection;
        m_connections.emplace(added.id, std::move(connection));
        Watch(added, POLLIN);
        return added;
    }

    // Null when the connection has been closed.
    Connection* Find(std::uint64_t id)
    {
        const auto found = m_connections.find(id);
        return found == m_connections.end() ? nullptr : found->second.get();
    }

    void Close(std::uint64_t id)
    {
        const auto found = m_connections.find(id);
        if (found == m_connections.end())
            return;
        m_loop.Unwatch(found->second->socket.Get());
        m_connections.erase(found);
    }

    // Writes the queued output as far as the socket takes it; the rest goes out when the socket
    // is writable again. Returns the reason of a failed send, empty otherwise; a failed
    // connection stays open for the service to log and close.
    std::string Flush(Connection& connection)
    {
        const int fd = connection.socket.Get();
        while (!connection.output.empty()) {
            const ssize_t sent = ::send(fd, connection.output.data(), connection.output.size(),
                                        MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                connection.output.erase(0, static_cast<std::size_t>(sent));
                continue;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                Watch(connection, POLLIN | POLLOUT);
                return {};
            }
            return std::strerror(errno);
        }
        Watch(connection, POLLIN);
        return {};
    }

private:
    void Watch(const Connection& connection, short events)
    {
        m_loop.Watch(connection.socket.Get(), events, [this, id = connection.id](short revents) {
            if (Connection* ready = Find(id))
                m_onReady(*ready, revents);
        });
    }

    EventLoop& m_loop;
    ReadyHandler m_onReady;
    std::map<std::uint64_t, std::unique_ptr<Connection>> m_connections;
    std::uint64_t m_nextId = 1;
};

} // namespace devsim
