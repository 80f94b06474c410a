// What one simulated device is: the settings its search replies show, which Modify IP requests
// change, and how it behaves on the wire. Every service module works on the same list.
#pragma once

#include "Addresses.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

// How the web server answers requests, for tests of the tool's failure paths.
enum class HttpBehaviour {
    Normal,
    Silent, // reads the request, never answers, keeps the connection until the peer closes
    Close,  // closes every connection as soon as it is accepted
    Status, // answers every request with DeviceSettings::httpStatus
};

// What follows the package on the upgrade connection.
enum class UpgradeFinal {
    Normal,  // "@code@"
    None,    // nothing
    Garbage, // a text without the "@" framing
    Half,    // "@code": the closing "@" never comes
};

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

    HttpBehaviour httpBehaviour = HttpBehaviour::Normal;
    int httpStatus = 200; // only with HttpBehaviour::Status
    unsigned httpDelayMs = 0;

    std::int32_t upgradeResult = 0;
    // Off: the command is never acknowledged, and the tool gives up after its receive time-out.
    bool upgradeAck = true;
    UpgradeFinal upgradeFinal = UpgradeFinal::Normal;
    // Nonzero: the device drops the upgrade connection once this many package bytes have
    // arrived, as a device that fails in the middle of a transfer.
    std::uint32_t upgradeCloseAfter = 0;

    // What the progress queries report after a package, in order; the last one repeats. Each is
    // a JSON number, so the log can carry it as it is.
    std::vector<std::string> progressValues = {"0", "25", "50", "75", "100"};

    // After a package with result 0: the device goes quiet after rebootDelayMs for rebootMs
    // (0: it does not reboot).
    unsigned rebootDelayMs = 2000;
    unsigned rebootMs = 5000;

    // The library protocol (dvsnet/PROTOCOL.md): its port (0: none), how long an installation
    // takes and the RESULT code it ends with.
    std::uint16_t libraryPort = 4000;
    unsigned libraryInstallMs = 3000;
    std::int32_t libraryResult = 0;
};

// What a device goes through at run time, apart from its settings.
struct DeviceState {
    // Between the two reboot phases: no search replies, no web server, no echo replies.
    bool rebooting = false;
    // Progress queries report 0 until a whole package has arrived.
    bool packageReceived = false;
    // Progress answers given since the last package.
    std::size_t progressAnswers = 0;
    // A package received on the library port is being installed; another one is refused.
    bool libraryInstalling = false;
};

struct Device {
    DeviceSettings settings;
    // A clone answers searches and takes Modify IP requests like any device, but its address
    // lives only in memory: the namespace's interface carries the original's address alone.
    bool isClone = false;
    DeviceState state;
};

} // namespace devsim
