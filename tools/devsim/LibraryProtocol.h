// The library protocol on port 4000 (dvsnet/PROTOCOL.md) as the device reads and writes it:
// frames, the client's payloads, the device's answers, CRC-32 and the installation's steps.
// Written from the protocol note alone, apart from the library's own codec, so that a mistake on
// one side shows on the other. Pure byte handling; the connections are LibraryService's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devsim {

inline constexpr std::uint16_t kLibraryPort = 4000;
inline constexpr std::size_t kLibraryHeaderSize = 12;
inline constexpr std::uint32_t kLibraryMaxPayload = 65536;
// What WELCOME announces: below the protocol's bound, so that a client which ignores the limit
// is caught by the device's check.
inline constexpr std::uint32_t kLibraryChunkLimit = 16384;

namespace library {
enum Type : std::uint8_t {
    kHello = 1,
    kWelcome = 2,
    kLogin = 3,
    kLoginResult = 4,
    kInfoRequest = 5,
    kInfo = 6,
    kPackageBegin = 7,
    kPackageReady = 8,
    kPackageData = 9,
    kPackageEnd = 10,
    kProgress = 11,
    kResult = 12,
    kPing = 13,
    kPong = 14,
    kClose = 15,
};
enum Close : std::uint32_t {
    kCloseDone = 0,
    kCloseBadFrame = 1,
    kCloseUnexpected = 2,
    kCloseVersion = 3,
    kCloseTimeLimit = 4,
    kCloseRebooting = 5,
    kCloseLoginRefused = 6,
};
enum Result : std::int32_t {
    kResultInstalled = 0,
    kResultChecksum = 1,
    kResultSize = 2,
    kResultRefused = 3,
};
} // namespace library

struct LibraryFrameParse {
    enum class State { Incomplete, Frame, BadFrame, BadVersion };
    State state = State::Incomplete;
    std::size_t consumed = 0; // with State::Frame
    std::uint8_t type = 0;
    std::string_view payload; // a view into the buffer given
    std::string error;        // with BadFrame and BadVersion
};

// The first frame in `buffer`. A bad magic, version, reserved field or length is reported as soon
// as its bytes are there.
LibraryFrameParse ParseLibraryFrame(std::string_view buffer);

std::string LibraryFrame(std::uint8_t type, std::string_view payload = {});

// The client's messages; nothing when the payload is not exactly the message.
std::optional<std::string> ParseHelloLabel(std::string_view payload);
struct LibraryLogin {
    std::string user;
    std::string password;
};
std::optional<LibraryLogin> ParseLibraryLogin(std::string_view payload);
struct LibraryPackageBegin {
    std::uint32_t size = 0;
    std::string name;
};
std::optional<LibraryPackageBegin> ParseLibraryPackageBegin(std::string_view payload);
// PACKAGE_END's CRC-32; also for the u32 of a CLOSE from the client.
std::optional<std::uint32_t> ParseLibraryU32(std::string_view payload);

// The device's messages, as whole frames. Texts longer than their field are cut.
std::string LibraryWelcome(std::uint32_t chunkLimit);
std::string LibraryLoginResult(bool accepted);
std::string LibraryInfo(std::string_view model, std::string_view name, std::string_view firmware,
                        std::uint32_t channels, std::int32_t type);
std::string LibraryProgress(std::uint32_t percent);
std::string LibraryResult(std::int32_t code);
std::string LibraryClose(std::uint32_t reason);

// CRC-32 of zip and PNG, fed as the package streams in.
class LibraryCrc32 {
public:
    void Update(std::string_view bytes);
    std::uint32_t Value() const { return m_crc ^ 0xFFFFFFFFu; }

private:
    std::uint32_t m_crc = 0xFFFFFFFFu;
};

// What the device reports while it installs for `installMs`: the percentages, 0 first, each
// after `interval` from the one before. Ten steps, or more when the installation is long, so
// that the gap stays within 2 s (the protocol wants a report at least every 10 s). A failing
// installation (result not 0) stops half-way.
struct InstallPlan {
    std::vector<std::uint32_t> percents;
    unsigned intervalMs = 0;
};
InstallPlan PlanInstall(unsigned installMs, std::int32_t result);

std::string Crc32Hex(std::uint32_t crc);

} // namespace devsim
