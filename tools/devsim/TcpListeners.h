// The listening TCP sockets of one service (the web server, the library port): one per port the
// devices use, all at the bound address, which follows a device whose own address a Modify IP
// request changes. Every accepted connection goes to the service, which decides what it is.
#pragma once

#include "Device.h"
#include "EventLoop.h"
#include "JsonLog.h"
#include "UniqueFd.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace devsim {

class TcpListeners {
public:
    // A connection accepted on `port`: its socket (non-blocking), the peer's "IP:PORT" and the
    // local address the peer reached. A socket the handler does not keep is closed when it
    // returns.
    using AcceptHandler =
        std::function<void(std::uint16_t port, UniqueFd socket, const std::string& peer,
                           const std::string& localAddress)>;

    // `service` names the log events: "<service>_listen" and "<service>_listen_error".
    TcpListeners(EventLoop& loop, JsonLog& log, std::string service, AcceptHandler onAccept);
    ~TcpListeners();
    TcpListeners(const TcpListeners&) = delete;
    TcpListeners& operator=(const TcpListeners&) = delete;

    // Takes the address later listeners are bound to. Returns an error text, empty on success.
    std::string SetBindAddress(const std::string& bindAddress);
    // Closes the listeners of ports not in `ports` or bound to a former address, and opens the
    // missing ones (SO_REUSEADDR). Each failure is logged; returns the first, empty when none.
    std::string Reconcile(const std::set<std::uint16_t>& ports);
    // When bound to `oldAddress`, which has just left the interface, takes `newAddress` (if it is
    // an IPv4 address) and returns true: the caller then reconciles.
    bool Follow(const std::string& oldAddress, const std::string& newAddress);
    // "ADDR:PORT" of each listening socket, by port.
    std::vector<std::string> Endpoints() const;

private:
    struct Listener {
        UniqueFd socket;
        std::string address;
    };

    std::string Listen(std::uint16_t port);
    void OnAcceptable(std::uint16_t port);

    EventLoop& m_loop;
    JsonLog& m_log;
    std::string m_service;
    AcceptHandler m_onAccept;
    std::string m_bindAddress;
    std::map<std::uint16_t, Listener> m_listeners;
};

// The device a connection to `port` belongs to: the one using that port (its `portOf` setting)
// whose address is the connection's local address, else the first using that port. Bound to
// 0.0.0.0, devices that share a port are told apart only by the address the peer reached.
template <class Port>
std::optional<std::size_t> DeviceOnPort(const std::vector<Device>& devices,
                                        Port DeviceSettings::*portOf, std::uint16_t port,
                                        const std::string& localAddress)
{
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].settings.*portOf != port)
            continue;
        if (devices[i].settings.ip == localAddress)
            return i;
        if (!first)
            first = i;
    }
    return first;
}

} // namespace devsim
