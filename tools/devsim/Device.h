// What one simulated device is: the settings its search replies show, which Modify IP requests
// change, and how it behaves on the wire. Every service module works on the same list.
#pragma once

#include "Addresses.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace devsim {

struct DeviceSettings {
    std::string model = "IPCAMERA";
    // Exact bytes for the reply's model field instead of the text, for devices that fill all ten
    // bytes and leave no terminator.
    std::optional<std::array<std::uint8_t, 10>> rawModel;
    std::string name;
    std::string firmware;
    // Address texts are kept as text: a Modify IP request stores whatever the tool wrote, and the
    // next search shows it back unchanged.
    std::string ip;
    std::string mask = "255.255.255.0";
    std::string gateway = "0.0.0.0";
    std::string dns = "0.0.0.0";
    MacAddress mac{};
    std::int32_t httpPort = 80;
    std::int32_t rtspPort = 554;
    std::int32_t mobilePort = 8000;
    std::uint8_t channels = 1;
    // The raw byte: only 1 means "on" to the tool, so other values are worth sending too.
    std::uint8_t dhcp = 0;
    std::int32_t type = 0;
    std::string user = "admin";
    std::string password = "admin";

    unsigned replyDelayMs = 0;
    unsigned replyCopies = 1;
};

struct Device {
    DeviceSettings settings;
    // A clone answers searches and takes Modify IP requests like any device, but its address
    // lives only in memory: the namespace's interface carries the original's address alone.
    bool isClone = false;
};

} // namespace devsim
