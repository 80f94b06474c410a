// The TCP package upload: the firmware file goes to the device's HTTP port after the text command
// "CMD:UPGRADE MCTP/1.0 CS", and the routine then follows the device until the upgrade is over,
// either by watching it reboot with ICMP probes (UploadAndWatch) or by polling its progress page
// (UploadAndPoll). Both run on the panel's upload worker thread and take a copy of the job; the
// panel provides the platform pieces through UpgradeSession.
//
// On the wire, in order (C = this side, D = device):
//   C->D  "CMD:UPGRADE MCTP/1.0 CS\n@<size>@\nEND\n", no terminating zero, one send;
//   D->C  an acknowledgement, whatever the first read returns (not interpreted);
//   C->D  UploadAndPoll only: the size as 4 bytes, least significant first;
//   C->D  the package bytes in file order, 1280 bytes a send;
//   D->C  the final answer, one read: "...@<code>@..." for UploadAndWatch, ignored by
//         UploadAndPoll.
// <size> and the 4-byte field carry the low 32 bits of the file length: packages of 4 GiB or more
// are announced modulo 2^32 (the devices' field is 32 bits wide), while the progress arithmetic
// uses the full length.
#pragma once

#include "net/Socket.h"
#include "upgrade/UpgradeSession.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// ----- Result codes (the panel's m_nResult) -----

constexpr std::int32_t kUploadOk = 0;
constexpr std::int32_t kUploadFileUnreadable = 102;
constexpr std::int32_t kUploadFileEmpty = 103;
// The address and port do not resolve; a port outside 0 to 65535 counts as such.
constexpr std::int32_t kUploadUnresolved = 201;
constexpr std::int32_t kUploadNoSocket = 202;
constexpr std::int32_t kUploadNotConnected = 203;
constexpr std::int32_t kUploadNoAcknowledgement = 204;
constexpr std::int32_t kUploadPieceNotSent = 205;
constexpr std::int32_t kUploadCommandNotSent = 206;
// UploadAndWatch: no final answer or no "@"-framed code in it. UploadAndPoll: the poll refused
// the credential.
constexpr std::int32_t kUploadNoResult = 400;
// The panel was closed during the reboot watch or the progress poll. Not a failure: the worker
// stores it and shows no message, since the user asked for the end and the window is going away.
// Device codes are read from digits only and cannot be negative, so it never collides with one.
constexpr std::int32_t kUploadStopped = -1;
// Any other value: the nonzero code the device sent in its final answer (UploadAndWatch).

// True for the codes after which the worker shows "Upload file failed!".
constexpr bool IsUploadFailure(std::int32_t result)
{
    return result != kUploadOk && result != kUploadStopped;
}

// ----- The connection -----

// How long the connection may take to be established, and the send and receive time-outs set on
// the socket. The defaults are the devices' 20 s; the tests shorten them.
struct TcpTimeouts {
    std::int32_t connectMs = 20'000;
    std::int32_t sendMs = 20'000;
    std::int32_t receiveMs = 20'000;
};

// One read of the device's acknowledgement or final answer takes at most this many bytes.
constexpr int kAnswerCapacity = 1024;
using AnswerBuffer = std::array<char, kAnswerCapacity>;

// Once the panel is closing, a wait for the connection or an answer goes on at most this much
// longer: a device that answers at once is still heard, a silent one no longer holds the closing
// window (which waits 2 s for the worker before it ends it by force).
constexpr int kClosingGraceMs = 1'000;

// A blocking stream socket with time-outs, as the upload uses it. Owns the socket.
class TcpClient {
public:
    // `keepRunning`, when given, is asked while the client waits for the connection or for an
    // answer; once it says false the wait ends within kClosingGraceMs.
    explicit TcpClient(const TcpTimeouts& timeouts = {}, std::function<bool()> keepRunning = {})
        : m_timeouts(timeouts), m_keepRunning(std::move(keepRunning))
    {}

    // Creates a TCP socket of `family` and sets its send and receive time-outs. On any failure
    // the socket is closed and false returned.
    bool Create(int family);
    // Connects in non-blocking mode, waits at most the connect time-out for the connection to be
    // established, then returns to blocking mode. A refusal ends the wait as soon as it arrives,
    // and so does a closing panel (after the grace). On failure the socket stays open for the
    // caller to close.
    bool ConnectWithTimeout(const sockaddr* address, int length);
    // One send; the count sent or -1 (a send that runs into the time-out counts as failed).
    int Send(const char* data, int length);
    // One receive of at most kAnswerCapacity bytes; `count` is its result (0 when the device
    // closed, -1 on an error, the receive time-out or a closing panel's grace). True when `count`
    // is 0 or more. One call waits at most the receive time-out, however slowly the device
    // trickles.
    bool Receive(AnswerBuffer& buffer, int& count);
    void Close() { m_socket.Reset(); }

    const TcpTimeouts& Timeouts() const { return m_timeouts; }

private:
    TcpTimeouts m_timeouts;
    std::function<bool()> m_keepRunning;
    net::UniqueSocket m_socket;
};

// ----- Pure pieces of the exchange -----

// Message 1 for a package of `packageSize` bytes (the low 32 bits go into the text).
std::string UpgradeCommand(std::uint64_t packageSize);
// Message 3: the low 32 bits of `packageSize`, least significant byte first.
std::array<std::uint8_t, 4> PackageSizeField(std::uint64_t packageSize);
// The bar during the transfer, 0 to 50: floor(floor(sent * 100 / size) / 2). `size` is not 0.
std::int32_t TransferPercent(std::uint64_t sent, std::uint64_t size);
// The device's result code in a final answer: the digits right after the first "@" (none give 0,
// values beyond the 32-bit range stop at its top), provided a second "@" follows; nothing when
// either "@" is missing. The answer is text: it ends at its first NUL byte.
std::optional<std::int32_t> ResultCodeFromAnswer(std::string_view answer);

// ----- The routines -----

// Uploads the package, reads the device's result code and, on 0, watches the device reboot with
// the session's ICMP probes; the bar goes 0 to 50 during the transfer and on to 98 during the
// watch, then 100. Returns kUploadOk, the device's code, one of the failure codes above, or
// kUploadStopped when KeepRunning turned false during the watch.
std::int32_t UploadAndWatch(const UpgradeJob& job, UpgradeSession& session,
                            const TcpTimeouts& timeouts = {});

// Uploads the package with the 4-byte size field, reads the final answer without looking at it,
// then polls the device's progress page (ProgressPolling.h) until it reports 100. Returns
// kUploadOk, a failure code, kUploadNoResult when the poll refused the credential, or
// kUploadStopped when KeepRunning turned false during the poll.
std::int32_t UploadAndPoll(const UpgradeJob& job, UpgradeSession& session,
                           const TcpTimeouts& timeouts = {});
