// The upgrade command on the device's HTTP port, as the device reads it:
//   "CMD:UPGRADE MCTP/1.0 CS\n@<size>@\nEND\n", acknowledged; for the routine that follows with
//   progress queries a 4-byte little-endian size; then <size> package bytes; then "@<code>@".
// Pure byte handling; the connection is HttpPortService's.
#pragma once

#include "Device.h"
#include "Sha256.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace devsim {

inline constexpr std::string_view kUpgradeMarker = "CMD:UPGRADE";
// Longer than any command the tool can write (it builds it in 127 bytes).
inline constexpr std::size_t kMaxUpgradeCommand = 1024;

enum class StreamKind {
    Undecided, // the bytes so far could still be the start of "CMD:UPGRADE"
    Http,
    Upgrade,
};

// Decided by the first bytes of a connection alone.
StreamKind ClassifyStream(std::string_view received);

struct UpgradeCommand {
    enum class State { Incomplete, Complete, Error };
    State state = State::Incomplete;
    std::size_t consumed = 0; // bytes of the command, when Complete or Error
    std::uint32_t size = 0;
    std::string error;
};

// Complete once three lines have arrived and they are exactly the command; Error as soon as they
// cannot be, or when kMaxUpgradeCommand bytes hold no three lines.
UpgradeCommand ParseUpgradeCommand(std::string_view received);

// The device types whose upgrade routine sends the 4-byte size between command and package.
bool SendsSizeField(std::int32_t deviceType);

// What the device answers after the package; nothing for UpgradeFinal::None.
std::optional<std::string> FinalAnswer(const DeviceSettings& settings);

inline constexpr std::string_view kUpgradeAck = "ACK\n";

// Everything after the command: the size field when there is one, the package, and whatever the
// peer sends after it.
class UpgradeReceiver {
public:
    enum class Phase { SizeField, Package, Done };

    UpgradeReceiver(std::uint32_t size, bool sizeField);

    struct Progress {
        std::optional<std::uint32_t> sizeField; // set by the Feed that completed it
        bool packageComplete = false;           // set by the Feed that completed it
    };
    // Call it once right after the command, also with no bytes: an empty package is complete
    // at once.
    Progress Feed(std::span<const std::uint8_t> bytes);

    Phase CurrentPhase() const { return m_phase; }
    std::uint32_t Expected() const { return m_size; }
    std::uint64_t PackageReceived() const { return m_received; }
    std::uint64_t ExtraReceived() const { return m_extra; }
    // Valid once the package is complete.
    const std::string& PackageSha256() const { return m_sha256; }

private:
    std::uint32_t m_size;
    Phase m_phase;
    std::uint8_t m_sizeBytes[4] = {};
    std::size_t m_sizeBytesReceived = 0;
    std::uint64_t m_received = 0;
    std::uint64_t m_extra = 0;
    Sha256 m_hash;
    std::string m_sha256;
};

} // namespace devsim
