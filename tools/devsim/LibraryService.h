// The device's library port (4000 by default): the protocol of dvsnet/PROTOCOL.md, through which
// DVSNETClient.dll logs in, reads the device's description and hands over a package that the
// device then "installs", reporting progress, before it reboots like after an HTTP upgrade. One
// listening socket per library port the devices use; every message received is logged.
#pragma once

#include "Device.h"
#include "EventLoop.h"
#include "JsonLog.h"
#include "LibraryProtocol.h"
#include "Sha256.h"
#include "TcpConnections.h"
#include "TcpListeners.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

class LibraryService {
public:
    // A device has installed a package with result 0 (the reboot hangs on this).
    using InstalledHandler = std::function<void(std::size_t deviceIndex)>;

    // The device's limits of the protocol note.
    static constexpr std::chrono::seconds kGreetingTimeout{10};
    static constexpr std::chrono::seconds kIdleTimeout{30};
    // After the device's CLOSE the connection is half-closed; the peer gets this long to close.
    static constexpr std::chrono::seconds kLingerTimeout{5};

    LibraryService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log,
                   InstalledHandler onInstalled);
    LibraryService(const LibraryService&) = delete;
    LibraryService& operator=(const LibraryService&) = delete;

    // Listens on every device's library_port (those not 0) at the address. Returns an error
    // text, empty on success.
    std::string Open(const std::string& bindAddress);
    // "ADDR:PORT" of each listening socket, by port.
    std::vector<std::string> Endpoints() const;

    // After a Modify IP request: a bound address that was the device's old one follows it.
    void SettingsChanged(std::size_t deviceIndex, const DeviceSettings& before);

private:
    using Clock = std::chrono::steady_clock;

    enum class State {
        Greeting,  // waiting for HELLO
        Login,     // waiting for LOGIN
        Ready,     // logged in; also while the device installs
        Receiving, // between PACKAGE_READY and PACKAGE_END
        Closing,   // CLOSE sent and half-closed, or about to be
    };

    struct Connection : TcpConnection {
        State state = State::Greeting;
        std::string input; // received, not yet a whole frame
        Clock::time_point lastHeard;

        LibraryPackageBegin package;
        std::uint64_t received = 0;
        LibraryCrc32 crc;
        std::optional<Sha256> sha256;
    };

    std::string Reconcile();
    void OnAccepted(std::uint16_t port, UniqueFd socket, const std::string& peer,
                    const std::string& localAddress);
    void OnReadyEvent(Connection& connection, short revents);

    // Each returns false when it has closed the connection.
    bool ReadAvailable(Connection& connection);
    bool HandleFrame(Connection& connection, std::uint8_t type, std::string_view payload);
    bool HandleGreeting(Connection& connection, std::uint8_t type, std::string_view payload);
    bool HandleReady(Connection& connection, std::uint8_t type, std::string_view payload);
    bool HandleReceiving(Connection& connection, std::uint8_t type, std::string_view payload);
    bool Send(Connection& connection, std::string_view bytes);
    bool Flush(Connection& connection);
    // Sends CLOSE with the reason and ends the connection once it has gone out.
    bool CloseWith(Connection& connection, std::uint32_t reason, std::string_view why);

    void StartInstall(const Connection& connection);
    void ScheduleTimeoutCheck(std::uint64_t id, Clock::duration after);
    void ScheduleRebootClose(std::uint64_t id, std::size_t deviceIndex);
    JsonLine Line(const char* event, const Connection& connection) const;

    EventLoop& m_loop;
    std::vector<Device>& m_devices;
    JsonLog& m_log;
    InstalledHandler m_onInstalled;
    TcpListeners m_listeners;
    TcpConnections<Connection> m_connections;
    std::vector<char> m_buffer;
};

} // namespace devsim
