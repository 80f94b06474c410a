#include "PackageUpload.h"

#include "app/LeadingInt.h"
#include "upgrade/ProgressPolling.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>
#include <memory>
#include <system_error>

namespace {

// The devices take the package in pieces of this size, one send each.
constexpr std::streamsize kPieceSize = 1280;
// A device goes on answering for a while after its result before it restarts; the first probe
// comes after this pause.
constexpr std::int32_t kRebootGraceMs = 5'000;
constexpr std::int32_t kWatchStepMs = 1'000;
constexpr std::int32_t kWatchStartPercent = 50;
// The watch never claims the end before the device has shown it.
constexpr std::int32_t kWatchCeilingPercent = 98;
constexpr std::int32_t kDonePercent = 100;
// The probe target was formatted into a 64-byte buffer; longer address texts are cut to fit.
constexpr std::size_t kMaxTargetLength = 63;

// The waits for the connection and for answers are cut into slices of this length, so that a
// closing panel is noticed between them.
constexpr int kWaitSliceMs = 100;

// What is left of one wait of at most `limitMs`: shortened to kClosingGraceMs from the moment
// keepRunning first says false.
class WaitBudget {
public:
    WaitBudget(int limitMs, const std::function<bool()>& keepRunning)
        : m_deadline(Clock::now() + std::chrono::milliseconds(limitMs)), m_keepRunning(keepRunning)
    {}

    // How long to wait next; 0 once the wait is over.
    int NextSlice()
    {
        const Clock::time_point now = Clock::now();
        if (!m_closing && m_keepRunning && !m_keepRunning()) {
            m_closing = true;
            m_deadline = std::min(m_deadline, now + std::chrono::milliseconds(kClosingGraceMs));
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - now);
        return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0,
                                                                             kWaitSliceMs));
    }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_deadline;
    const std::function<bool()>& m_keepRunning;
    bool m_closing = false;
};

// A wait that failed while the panel was closing ended because of the close, not the device.
std::int32_t UnlessStopped(UpgradeSession& session, std::int32_t failure)
{
    return session.KeepRunning() ? failure : kUploadStopped;
}

struct AddressInfoDeleter {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};
using AddressInfo = std::unique_ptr<addrinfo, AddressInfoDeleter>;

// Everything the common start hands to the rest of a routine; the file and the socket are closed
// on every return by their owners.
struct Upload {
    // The client's waits end soon after the panel starts closing.
    Upload(const TcpTimeouts& timeouts, UpgradeSession& session)
        : client(timeouts, [&session] { return session.KeepRunning(); })
    {}

    std::ifstream file;
    std::uint64_t size = 0;
    TcpClient client;
};

// Opens the package, resolves the device and connects. Returns kUploadOk or the failure code.
std::int32_t StartUpload(const UpgradeJob& job, UpgradeSession& session, Upload& upload)
{
    upload.file.open(job.packagePath, std::ios::binary);
    std::error_code error;
    // A directory opens on some systems; its "length" says it is not a package.
    const std::uintmax_t size = std::filesystem::file_size(job.packagePath, error);
    if (!upload.file.is_open() || error)
        return kUploadFileUnreadable;
    if (size == 0)
        return kUploadFileEmpty;
    upload.size = size;

    // The port column goes through the same leading-number rule as everywhere else. The range
    // check makes the result the same on every platform: some resolvers refuse a service number
    // above 65535, others quietly take it modulo 65536 and reach another port of the device.
    std::wstring portText;
    for (const char c : job.deviceHttpPort)
        portText += static_cast<wchar_t>(static_cast<unsigned char>(c));
    const std::int32_t port = LeadingInt(portText);
    if (port < 0 || port > 65535)
        return kUploadUnresolved;
    const std::string service = std::to_string(port);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(job.deviceIpText.c_str(), service.c_str(), &hints, &found) != 0 ||
        found == nullptr)
        return kUploadUnresolved;
    const AddressInfo first(found);

    if (!upload.client.Create(first->ai_family))
        return kUploadNoSocket;
    if (!upload.client.ConnectWithTimeout(first->ai_addr, static_cast<int>(first->ai_addrlen)))
        return UnlessStopped(session, kUploadNotConnected);
    return kUploadOk;
}

// Sends the package piece by piece while the panel is open, moving the bar from 0 to 50. A panel
// being closed ends the loop without a code of its own; the caller goes on with the final answer.
std::int32_t SendPackage(Upload& upload, UpgradeSession& session)
{
    char piece[kPieceSize];
    std::uint64_t sent = 0;
    for (;;) {
        upload.file.read(piece, kPieceSize);
        const std::streamsize count = upload.file.gcount();
        if (count <= 0 || !session.KeepRunning())
            return kUploadOk;
        const int length = static_cast<int>(count);
        if (upload.client.Send(piece, length) != length)
            return kUploadPieceNotSent;
        sent += static_cast<std::uint64_t>(count);
        session.SetProgress(TransferPercent(sent, upload.size));
    }
}

// Follows the device's reboot after a successful upload. Devices of type 0 to 99 are still up
// when the watch begins and it waits for them to go down; the others are already down and it
// waits for them to answer again. Each step moves the bar on by a fixed amount, never past 98.
std::int32_t WatchReboot(const UpgradeJob& job, UpgradeSession& session)
{
    // Every wait goes through the session, so that a closing panel ends the watch at once
    // instead of being left running until the window kills the thread.
    if (!session.SleepUnlessStopped(kRebootGraceMs))
        return kUploadStopped;
    const std::string target = job.deviceIpText.substr(0, kMaxTargetLength);
    bool up = session.PingIcmp(target);

    std::wstring typeText;
    for (const char c : job.deviceType)
        typeText += static_cast<wchar_t>(static_cast<unsigned char>(c));
    const std::int32_t type = LeadingInt(typeText);
    const bool waitForDown = type >= 0 && type <= 99;
    const std::int32_t step = waitForDown ? 2 : 3;

    std::int32_t percent = kWatchStartPercent;
    while (up == waitForDown) {
        if (!session.KeepRunning())
            return kUploadStopped;
        up = session.PingRaw(target);
        percent = std::min(percent + step, kWatchCeilingPercent);
        session.SetProgress(percent);
        if (!session.SleepUnlessStopped(kWatchStepMs))
            return kUploadStopped;
    }
    session.SetProgress(kDonePercent);
    // The upgrade is over whether or not the panel closes during this last pause.
    session.SleepUnlessStopped(kWatchStepMs);
    return kUploadOk;
}

std::int32_t FinishWatch(const UpgradeJob& job, UpgradeSession& session, Upload& upload)
{
    AnswerBuffer answer{};
    int count = 0;
    if (!upload.client.Receive(answer, count) || count <= 0)
        return UnlessStopped(session, kUploadNoResult);
    const std::optional<std::int32_t> code =
        ResultCodeFromAnswer(std::string_view(answer.data(), static_cast<std::size_t>(count)));
    if (!code)
        return kUploadNoResult;
    session.m_nProgress.exchange(kDonePercent);
    if (*code != kUploadOk)
        return *code;
    return WatchReboot(job, session);
}

} // namespace

// ----- TcpClient -----

bool TcpClient::Create(int family)
{
    m_socket.Reset(::socket(family, SOCK_STREAM, IPPROTO_TCP));
    if (!m_socket)
        return false;
    if (!net::SetSendTimeout(m_socket.Get(), m_timeouts.sendMs) ||
        !net::SetReceiveTimeout(m_socket.Get(), m_timeouts.receiveMs)) {
        m_socket.Reset();
        return false;
    }
    return true;
}

bool TcpClient::ConnectWithTimeout(const sockaddr* address, int length)
{
    if (!net::SetBlocking(m_socket.Get(), false))
        return false;
    if (::connect(m_socket.Get(), address, length) != 0) {
        if (!net::IsConnectPending(net::LastSocketError()))
            return false;
        for (WaitBudget budget(m_timeouts.connectMs, m_keepRunning);;) {
            const int slice = budget.NextSlice();
            if (slice == 0)
                return false;
            const net::ConnectWait wait = net::WaitForConnect(m_socket.Get(), slice);
            if (wait == net::ConnectWait::Failed)
                return false;
            if (wait == net::ConnectWait::Connected)
                break;
        }
    }
    return net::SetBlocking(m_socket.Get(), true);
}

int TcpClient::Send(const char* data, int length)
{
    return net::Send(m_socket.Get(), data, length);
}

bool TcpClient::Receive(AnswerBuffer& buffer, int& count)
{
    // The socket's own receive time-out stays set; the wait before it is what a closing panel
    // can cut short.
    count = -1;
    for (WaitBudget budget(m_timeouts.receiveMs, m_keepRunning);;) {
        const int slice = budget.NextSlice();
        if (slice == 0)
            return false;
        if (net::WaitReadable(m_socket.Get(), slice))
            break;
    }
    count = net::Receive(m_socket.Get(), buffer.data(), kAnswerCapacity);
    return count >= 0;
}

// ----- Pure pieces -----

std::string UpgradeCommand(std::uint64_t packageSize)
{
    return "CMD:UPGRADE MCTP/1.0 CS\n@" + std::to_string(static_cast<std::uint32_t>(packageSize)) +
           "@\nEND\n";
}

std::array<std::uint8_t, 4> PackageSizeField(std::uint64_t packageSize)
{
    return {static_cast<std::uint8_t>(packageSize), static_cast<std::uint8_t>(packageSize >> 8),
            static_cast<std::uint8_t>(packageSize >> 16),
            static_cast<std::uint8_t>(packageSize >> 24)};
}

std::int32_t TransferPercent(std::uint64_t sent, std::uint64_t size)
{
    return static_cast<std::int32_t>(sent * 100 / size / 2);
}

std::optional<std::int32_t> ResultCodeFromAnswer(std::string_view answer)
{
    answer = answer.substr(0, answer.find('\0'));
    const std::size_t open = answer.find('@');
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::size_t close = answer.find('@', open + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    std::int64_t code = 0;
    for (std::size_t i = open + 1; i < answer.size() && answer[i] >= '0' && answer[i] <= '9'; ++i)
        code = std::min<std::int64_t>(code * 10 + (answer[i] - '0'),
                                      std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(code);
}

// ----- The routines -----

std::int32_t UploadAndWatch(const UpgradeJob& job, UpgradeSession& session,
                            const TcpTimeouts& timeouts)
{
    Upload upload(timeouts, session);
    if (const std::int32_t result = StartUpload(job, session, upload); result != kUploadOk)
        return result;

    const std::string command = UpgradeCommand(upload.size);
    upload.client.Send(command.data(), static_cast<int>(command.size()));
    AnswerBuffer acknowledgement{};
    int count = 0;
    if (!upload.client.Receive(acknowledgement, count) || count <= 0)
        return UnlessStopped(session, kUploadNoAcknowledgement);

    if (const std::int32_t result = SendPackage(upload, session); result != kUploadOk)
        return result;
    return FinishWatch(job, session, upload);
}

std::int32_t UploadAndPoll(const UpgradeJob& job, UpgradeSession& session,
                           const TcpTimeouts& timeouts)
{
    Upload upload(timeouts, session);
    if (const std::int32_t result = StartUpload(job, session, upload); result != kUploadOk)
        return result;

    const std::string command = UpgradeCommand(upload.size);
    const int commandLength = static_cast<int>(command.size());
    if (upload.client.Send(command.data(), commandLength) != commandLength)
        return kUploadCommandNotSent;
    AnswerBuffer answer{};
    int count = 0;
    if (!upload.client.Receive(answer, count) || count <= 0)
        return UnlessStopped(session, kUploadNoAcknowledgement);
    const std::array<std::uint8_t, 4> sizeField = PackageSizeField(upload.size);
    upload.client.Send(reinterpret_cast<const char*>(sizeField.data()),
                       static_cast<int>(sizeField.size()));

    if (const std::int32_t result = SendPackage(upload, session); result != kUploadOk)
        return result;
    // These devices report through their progress page; whatever they answer here, or their
    // silence until the receive time-out, changes nothing.
    upload.client.Receive(answer, count);

    switch (PollUpgradeProgress(job, session)) {
    case PollOutcome::Done:
        return kUploadOk;
    case PollOutcome::Stopped:
        return kUploadStopped;
    case PollOutcome::Refused:
        break;
    }
    return kUploadNoResult;
}
