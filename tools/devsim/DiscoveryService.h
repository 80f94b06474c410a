// The discovery side of the simulated devices: one UDP socket on port 6789 that answers searches
// for every device and applies Modify IP requests to the device with the request's MAC.
#pragma once

#include "Device.h"
#include "EventLoop.h"
#include "InterfaceAddress.h"
#include "JsonLog.h"
#include "UniqueFd.h"

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace devsim {

class DiscoveryService {
public:
    // Called for a configured (not cloned) device whose address or mask a request changed.
    using AddressMover = std::function<void(const AddressChange&)>;

    // Called after a Modify IP request has been applied to a device (its index), with the
    // settings it had before, once the address has been moved.
    using SettingsObserver = std::function<void(std::size_t, const DeviceSettings&)>;

    DiscoveryService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log,
                     AddressMover moveAddress);

    void SetSettingsObserver(SettingsObserver observer) { m_settingsChanged = std::move(observer); }

    // Binds the socket (port 0 picks a free one, for tests) and starts watching it. Returns an
    // error text, empty on success.
    std::string Open(const std::string& bindAddress, std::uint16_t port);
    std::uint16_t Port() const;

    void HandleDatagram(std::span<const std::uint8_t> datagram, const sockaddr_in& from);

private:
    void OnReadable();
    void AnswerSearch(std::span<const std::uint8_t> datagram, const sockaddr_in& from);
    void ApplyModify(std::span<const std::uint8_t> datagram, const sockaddr_in& from);
    void SendReply(const Device& device, const sockaddr_in& to);

    EventLoop& m_loop;
    std::vector<Device>& m_devices;
    JsonLog& m_log;
    AddressMover m_moveAddress;
    SettingsObserver m_settingsChanged;
    UniqueFd m_socket;
    std::vector<std::uint8_t> m_buffer;
};

// "10.77.0.2:51000".
std::string EndpointText(const sockaddr_in& address);

} // namespace devsim
