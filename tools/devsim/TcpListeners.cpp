#include "TcpListeners.h"

#include "DiscoveryService.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace devsim {

namespace {

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool IsIpv4(const std::string& address)
{
    in_addr parsed{};
    return ::inet_pton(AF_INET, address.c_str(), &parsed) == 1;
}

} // namespace

TcpListeners::TcpListeners(EventLoop& loop, JsonLog& log, std::string service,
                           AcceptHandler onAccept)
    : m_loop(loop), m_log(log), m_service(std::move(service)), m_onAccept(std::move(onAccept))
{}

TcpListeners::~TcpListeners()
{
    for (const auto& [port, listener] : m_listeners)
        m_loop.Unwatch(listener.socket.Get());
}

std::string TcpListeners::SetBindAddress(const std::string& bindAddress)
{
    if (!IsIpv4(bindAddress))
        return "--bind " + bindAddress + ": not an IPv4 address";
    m_bindAddress = bindAddress;
    return {};
}

bool TcpListeners::Follow(const std::string& oldAddress, const std::string& newAddress)
{
    if (newAddress == oldAddress || m_bindAddress != oldAddress || !IsIpv4(newAddress))
        return false;
    m_bindAddress = newAddress;
    return true;
}

std::vector<std::string> TcpListeners::Endpoints() const
{
    std::vector<std::string> endpoints;
    for (const auto& [port, listener] : m_listeners) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(listener.socket.Get(), reinterpret_cast<sockaddr*>(&local), &length) == 0)
            endpoints.push_back(EndpointText(local));
    }
    return endpoints;
}

std::string TcpListeners::Reconcile(const std::set<std::uint16_t>& ports)
{
    for (auto it = m_listeners.begin(); it != m_listeners.end();) {
        if (ports.contains(it->first) && it->second.address == m_bindAddress) {
            ++it;
            continue;
        }
        m_loop.Unwatch(it->second.socket.Get());
        m_log.Write(JsonLine(m_service + "_listen")
                        .Text("bind", it->second.address + ':' + std::to_string(it->first))
                        .Text("state", "closed"));
        it = m_listeners.erase(it);
    }
    std::string firstError;
    for (std::uint16_t port : ports) {
        if (m_listeners.contains(port))
            continue;
        if (std::string error = Listen(port); !error.empty()) {
            m_log.Write(JsonLine(m_service + "_listen_error")
                            .Text("bind", m_bindAddress + ':' + std::to_string(port))
                            .Text("reason", error));
            if (firstError.empty())
                firstError = error;
        }
    }
    return firstError;
}

std::string TcpListeners::Listen(std::uint16_t port)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::inet_pton(AF_INET, m_bindAddress.c_str(), &local.sin_addr);

    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.Valid())
        return SystemError("socket");
    // A restarted simulator must not wait for the last run's connections in TIME_WAIT.
    const int on = 1;
    if (::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return SystemError("setsockopt");
    const std::string endpoint = m_bindAddress + ':' + std::to_string(port);
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return SystemError("bind " + endpoint);
    if (::listen(socket.Get(), SOMAXCONN) != 0)
        return SystemError("listen " + endpoint);

    m_loop.Watch(socket.Get(), POLLIN, [this, port](short) { OnAcceptable(port); });
    m_listeners[port] = Listener{std::move(socket), m_bindAddress};
    m_log.Write(JsonLine(m_service + "_listen").Text("bind", endpoint).Text("state", "open"));
    return {};
}

void TcpListeners::OnAcceptable(std::uint16_t port)
{
    const auto listener = m_listeners.find(port);
    if (listener == m_listeners.end())
        return;
    for (;;) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        UniqueFd socket(::accept4(listener->second.socket.Get(), reinterpret_cast<sockaddr*>(&peer),
                                  &peerLength, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.Valid()) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_log.Write(JsonLine("receive_error").Text("reason", SystemError("accept")));
            return;
        }
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&local), &localLength);
        char localText[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &local.sin_addr, localText, sizeof localText);
        m_onAccept(port, std::move(socket), EndpointText(peer), localText);
    }
}

} // namespace devsim
