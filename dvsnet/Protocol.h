// The library protocol of dvsnet/PROTOCOL.md as bytes: the frame header, every message's
// payload, CRC-32, and how a transfer becomes the percentage the caller sees. Pure functions over
// bytes and standard types, so the native tests and the fuzzer exercise exactly what
// DVSNETClient.dll sends and reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace dvsnet {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kDefaultPort = 4000;

// ----- Frames -----

inline constexpr std::array<std::uint8_t, 4> kMagic = {0x44, 0x56, 0x4E, 0x50}; // "DVNP"
inline constexpr std::uint8_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 12;
// Bounds every receive buffer; a package travels in chunks of at most this size.
inline constexpr std::uint32_t kMaxPayload = 65536;

enum class MessageType : std::uint8_t {
    Hello = 1,
    Welcome = 2,
    Login = 3,
    LoginResult = 4,
    InfoRequest = 5,
    Info = 6,
    PackageBegin = 7,
    PackageReady = 8,
    PackageData = 9,
    PackageEnd = 10,
    Progress = 11,
    Result = 12,
    Ping = 13,
    Pong = 14,
    Close = 15,
};

enum class FrameStatus {
    Complete,   // a whole frame is there; `consumed` bytes belong to it
    Incomplete, // every byte so far fits a frame; more are needed
    Error,      // the bytes cannot start a frame
};

enum class FrameError { None, Magic, Version, Reserved, Length };

struct FrameView {
    FrameStatus status = FrameStatus::Incomplete;
    FrameError error = FrameError::None;
    std::size_t consumed = 0;
    std::uint8_t type = 0; // not checked against MessageType here
    std::span<const std::uint8_t> payload;
};

// Looks at the start of `bytes`. The header is checked byte by byte as far as it has arrived,
// so a stream that cannot be ours is refused before the peer sends more.
FrameView DecodeFrame(std::span<const std::uint8_t> bytes);

// The whole frame; the payload must be at most kMaxPayload bytes.
Bytes EncodeFrame(MessageType type, std::span<const std::uint8_t> payload);

// ----- Messages -----

inline constexpr std::size_t kMaxLabel = 63;
inline constexpr std::size_t kMaxCredential = 39;
inline constexpr std::size_t kMaxModel = 31;
inline constexpr std::size_t kMaxName = 63;
inline constexpr std::size_t kMaxFirmware = 31;
inline constexpr std::size_t kMaxPackageName = 255;
inline constexpr std::uint32_t kMinChunkLimit = 1024;

inline constexpr std::int32_t kResultInstalled = 0;
inline constexpr std::int32_t kResultChecksum = 1;
inline constexpr std::int32_t kResultSize = 2;
inline constexpr std::int32_t kResultRefused = 3;

enum class CloseReason : std::uint32_t {
    Done = 0,
    BadFrame = 1,
    Unexpected = 2,
    Version = 3,
    TimeLimit = 4,
    Rebooting = 5,
    LoginRefused = 6,
};
inline constexpr std::uint32_t kMaxCloseReason = 6;

struct Hello {
    std::string label;
    bool operator==(const Hello&) const = default;
};
struct Welcome {
    std::uint32_t maxChunk = kMaxPayload;
    bool operator==(const Welcome&) const = default;
};
struct Login {
    std::string user;
    std::string password;
    bool operator==(const Login&) const = default;
};
struct LoginResult {
    bool accepted = false;
    bool operator==(const LoginResult&) const = default;
};
struct InfoRequest {
    bool operator==(const InfoRequest&) const = default;
};
struct Info {
    std::string model;
    std::string name;
    std::string firmware;
    std::uint32_t channels = 0;
    std::int32_t deviceType = 0;
    bool operator==(const Info&) const = default;
};
struct PackageBegin {
    std::uint32_t size = 0;
    std::string name;
    bool operator==(const PackageBegin&) const = default;
};
struct PackageReady {
    bool operator==(const PackageReady&) const = default;
};
struct PackageData {
    Bytes bytes;
    bool operator==(const PackageData&) const = default;
};
struct PackageEnd {
    std::uint32_t crc32 = 0;
    bool operator==(const PackageEnd&) const = default;
};
struct Progress {
    std::uint32_t percent = 0;
    bool operator==(const Progress&) const = default;
};
struct Result {
    std::int32_t code = kResultInstalled;
    bool operator==(const Result&) const = default;
};
struct Ping {
    bool operator==(const Ping&) const = default;
};
struct Pong {
    bool operator==(const Pong&) const = default;
};
struct Close {
    CloseReason reason = CloseReason::Done;
    bool operator==(const Close&) const = default;
};

// In type order: the index is the message type minus one.
using Message =
    std::variant<Hello, Welcome, Login, LoginResult, InfoRequest, Info, PackageBegin, PackageReady,
                 PackageData, PackageEnd, Progress, Result, Ping, Pong, Close>;

MessageType TypeOf(const Message& message);

// The whole frame, or nothing when a field is outside what the protocol allows (a text too long
// or holding a zero byte, a chunk limit, percentage, chunk size or close reason out of range).
std::optional<Bytes> EncodeMessage(const Message& message);

// The message of a complete frame, or nothing for an unknown type or a payload that is not
// exactly what that type allows. Encoding is canonical: a decoded message encodes back to the
// same bytes.
std::optional<Message> DecodeMessage(std::uint8_t type, std::span<const std::uint8_t> payload);

// ----- CRC-32 (reflected 0xEDB88320, the one of zip and PNG) -----

class Crc32 {
public:
    void Update(std::span<const std::uint8_t> bytes);
    std::uint32_t Value() const { return ~m_state; }

private:
    std::uint32_t m_state = 0xFFFFFFFFu;
};

std::uint32_t Crc32Of(std::span<const std::uint8_t> bytes);

// ----- What the caller sees -----

// While the package is sent: 0 to 90, rounded down. A transfer of nothing counts as sent.
std::int32_t TransferPercent(std::uint32_t sent, std::uint32_t total);
// While the device installs: its 0 to 100 becomes 90 to 99, so that 100 is left for the moment
// the device reports the package installed. Values above 100 count as 100.
std::int32_t InstallPercent(std::uint32_t devicePercent);

} // namespace dvsnet
