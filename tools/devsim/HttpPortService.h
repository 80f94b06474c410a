// The device's HTTP port: its web server (vb.htm) and, on the same port, the upgrade command.
// A connection is one or the other, told apart by its first bytes. One listening socket per
// HTTP port the devices use; a Modify IP request that changes a port or the bound address moves
// it. Every request is logged before it is answered.
#pragma once

#include "Device.h"
#include "EventLoop.h"
#include "HttpMessage.h"
#include "JsonLog.h"
#include "TcpConnections.h"
#include "TcpListeners.h"
#include "UpgradeProtocol.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace devsim {

class HttpPortService {
public:
    // A device has received a whole package (the reboot hangs on this).
    using PackageHandler = std::function<void(std::size_t deviceIndex)>;

    // How long a request may take to arrive; the tool sends it in one piece.
    static constexpr std::chrono::seconds kRequestTimeout{10};
    // How long an upgrade may stall before the package is complete. The tool's own send and
    // receive time-outs are 20 s.
    static constexpr std::chrono::seconds kUpgradeIdleTimeout{60};
    // After an answer the connection is half-closed; the peer gets this long to close its end.
    static constexpr std::chrono::seconds kLingerTimeout{5};

    HttpPortService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log,
                    PackageHandler onPackage);
    HttpPortService(const HttpPortService&) = delete;
    HttpPortService& operator=(const HttpPortService&) = delete;

    // Listens on every device's http_port at the address (SO_REUSEADDR). Returns an error text,
    // empty on success.
    std::string Open(const std::string& bindAddress);
    // "ADDR:PORT" of each listening socket, by port.
    std::vector<std::string> Endpoints() const;

    // After a Modify IP request changed the device's settings: a new http_port gets a listener;
    // a bound address that was the device's old one follows it to the new one.
    void SettingsChanged(std::size_t deviceIndex, const DeviceSettings& before);

private:
    enum class Mode {
        Undecided, // too few bytes to tell HTTP from the upgrade command
        Http,      // reading the request header
        Answering, // the request is logged; the answer waits for http_delay_ms or goes out
        Silent,    // never answered
        Upgrade,
        Closing, // answered and half-closed, waiting for the peer's end
    };

    struct Connection : TcpConnection {
        Mode mode = Mode::Undecided;
        std::string received; // the request, or the upgrade command, as it arrives
        std::optional<UpgradeReceiver> upgrade; // after the command
        std::chrono::steady_clock::time_point lastActivity;
    };

    std::string Reconcile();
    void OnAccepted(std::uint16_t port, UniqueFd socket, const std::string& peer,
                    const std::string& localAddress);
    void OnReadyEvent(Connection& connection, short revents);

    // Each returns false when it has closed the connection.
    bool ReadAvailable(Connection& connection);
    bool HandleBytes(Connection& connection, std::span<const std::uint8_t> bytes);
    bool HandleHttp(Connection& connection);
    bool HandleUpgradeCommand(Connection& connection);
    bool FeedUpgrade(Connection& connection, std::span<const std::uint8_t> bytes);
    bool Send(Connection& connection, std::string_view bytes, bool closeAfter);
    bool Flush(Connection& connection);

    void PeerClosed(Connection& connection);
    void ScheduleRequestTimeout(std::uint64_t id);
    void ScheduleIdleCheck(std::uint64_t id, std::chrono::steady_clock::duration after);
    void LogUpgradeIncomplete(const Connection& connection, const char* reason);

    EventLoop& m_loop;
    std::vector<Device>& m_devices;
    JsonLog& m_log;
    PackageHandler m_onPackage;
    TcpListeners m_listeners;
    std::set<std::int32_t> m_reportedUnusablePorts;
    TcpConnections<Connection> m_connections;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace devsim
