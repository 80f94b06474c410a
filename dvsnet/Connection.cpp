#include "dvsnet/Connection.h"

#include <process.h>

#include <algorithm>
#include <cstring>

namespace dvsnet {

namespace {

using Clock = Channel::Clock;
using namespace std::chrono_literals;

// The limits of PROTOCOL.md.
constexpr int kConnectTimeoutMs = 5000;
constexpr auto kAnswerTimeout = 5s;
constexpr auto kReadyTimeout = 10s;
constexpr auto kSendTimeout = 20s;
constexpr auto kInstallSilence = 30s;
constexpr auto kKeepAliveInterval = 10s;
constexpr auto kPongTimeout = 10s;
// How often a wait looks at its interrupt flag, and so how long CloseServer may take when the
// worker is waiting rather than sending.
constexpr auto kWaitSlice = 50ms;
// Before CloseServer cuts the socket under a worker that is stuck in a send.
constexpr DWORD kGracefulStopMs = 1000;
// Larger chunks gain nothing on a LAN and hold the device's receive buffer longer.
constexpr std::uint32_t kOwnChunkLimit = 32768;

// One slice of a wait that ends at most `left` from now.
timeval Slice(Clock::duration left)
{
    const auto micros =
        std::chrono::ceil<std::chrono::microseconds>(std::min<Clock::duration>(left, kWaitSlice))
            .count();
    timeval limit{};
    limit.tv_sec = static_cast<long>(micros / 1000000);
    limit.tv_usec = static_cast<long>(micros % 1000000);
    return limit;
}

template <typename T> const T* As(const std::optional<Message>& message)
{
    return message ? std::get_if<T>(&*message) : nullptr;
}

// Waits for the thread to end; meanwhile messages that other threads send to this thread's
// windows are handled (posted ones stay queued). False when `milliseconds` ran out first.
bool WaitLettingSentMessagesThrough(HANDLE thread, DWORD milliseconds)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        DWORD wait = INFINITE;
        if (milliseconds != INFINITE) {
            const ULONGLONG spent = ::GetTickCount64() - start;
            wait = spent >= milliseconds ? 0 : static_cast<DWORD>(milliseconds - spent);
        }
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &thread, FALSE, wait, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0)
            return true;
        if (woken == WAIT_OBJECT_0 + 1) {
            MSG message;
            ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (woken == WAIT_TIMEOUT)
            return false;
        return ::WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
    }
}

// Reads the answer to a request of the greeting, which must be of type T; any other message,
// including a PING the device had no reason to send yet, is a protocol fault.
template <typename T> LONG ReceiveAnswer(Channel& channel, T& answer)
{
    const Channel::Received received = channel.Receive(Clock::now() + kAnswerTimeout);
    switch (received.outcome) {
    case Channel::Outcome::Message:
        break;
    case Channel::Outcome::BadFrame:
        channel.Send(Close{CloseReason::BadFrame});
        return DVSNET_ERROR_PROTOCOL;
    case Channel::Outcome::BadVersion:
        channel.Send(Close{CloseReason::Version});
        return DVSNET_ERROR_PROTOCOL;
    case Channel::Outcome::TimedOut:
        channel.Send(Close{CloseReason::TimeLimit});
        return DVSNET_ERROR_CONNECT;
    case Channel::Outcome::Interrupted:
    case Channel::Outcome::Lost:
        return DVSNET_ERROR_CONNECT;
    }
    if (const T* wanted = As<T>(received.message)) {
        answer = *wanted;
        return DVSNET_OK;
    }
    if (const Close* close = As<Close>(received.message))
        return close->reason == CloseReason::Version ? DVSNET_ERROR_PROTOCOL : DVSNET_ERROR_CONNECT;
    channel.Send(Close{CloseReason::Unexpected});
    return DVSNET_ERROR_PROTOCOL;
}

void CopyText(char* field, std::size_t fieldSize, const std::string& text)
{
    const std::size_t length = std::min(text.size(), fieldSize - 1);
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, fieldSize - length);
}

} // namespace

// ----- Channel -----

bool Channel::Send(const Message& message, const std::atomic<bool>* interrupt)
{
    const std::optional<Bytes> frame = EncodeMessage(message);
    if (!frame)
        return false;
    const char* data = reinterpret_cast<const char*>(frame->data());
    std::size_t left = frame->size();
    const auto deadline = Clock::now() + kSendTimeout;
    while (left > 0) {
        const int sent = ::send(m_socket.Get(), data, static_cast<int>(left), 0);
        if (sent > 0) {
            data += sent;
            left -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        // The device reads slower than we send, or not at all.
        if (interrupt != nullptr && interrupt->load())
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        timeval limit = Slice(deadline - now);
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(m_socket.Get(), &writable);
        if (::select(0, nullptr, &writable, nullptr, &limit) < 0)
            return false;
    }
    return true;
}

Channel::Received Channel::Receive(Clock::time_point deadline, const std::atomic<bool>* interrupt)
{
    for (;;) {
        const FrameView frame = DecodeFrame(m_received);
        if (frame.status == FrameStatus::Error)
            return {frame.error == FrameError::Version ? Outcome::BadVersion : Outcome::BadFrame,
                    std::nullopt};
        if (frame.status == FrameStatus::Complete) {
            std::optional<Message> message = DecodeMessage(frame.type, frame.payload);
            m_received.erase(m_received.begin(),
                             m_received.begin() + static_cast<std::ptrdiff_t>(frame.consumed));
            if (!message)
                return {Outcome::BadFrame, std::nullopt};
            return {Outcome::Message, std::move(message)};
        }

        if (interrupt != nullptr && interrupt->load())
            return {Outcome::Interrupted, std::nullopt};
        const auto now = Clock::now();
        if (now >= deadline)
            return {Outcome::TimedOut, std::nullopt};
        timeval limit = Slice(deadline - now);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket.Get(), &readable);
        const int ready = ::select(0, &readable, nullptr, nullptr, &limit);
        if (ready < 0)
            return {Outcome::Lost, std::nullopt};
        if (ready == 0)
            continue;

        char buffer[16384];
        const int count = ::recv(m_socket.Get(), buffer, static_cast<int>(sizeof buffer), 0);
        if (count < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK)
            continue;
        if (count <= 0)
            return {Outcome::Lost, std::nullopt};
        m_received.insert(m_received.end(), buffer, buffer + count);
    }
}

void Channel::Shutdown()
{
    ::shutdown(m_socket.Get(), SD_BOTH);
}

// ----- WinsockUse -----

WinsockUse::WinsockUse()
{
    WSADATA data;
    m_started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockUse::~WinsockUse()
{
    if (m_started)
        ::WSACleanup();
}

// ----- Connection: opening -----

LONG Connection::Open(const OpenRequest& request, std::unique_ptr<Connection>& opened)
{
    const WinsockUse winsock;
    if (!winsock.Started())
        return DVSNET_ERROR_RESOURCES;
    sockaddr_in address{};
    if (!net::ResolveIpv4(request.address.c_str(), request.port, address))
        return DVSNET_ERROR_CONNECT;
    net::UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket)
        return DVSNET_ERROR_RESOURCES;

    // Non-blocking for good: a device that is off the LAN would otherwise hold the caller for
    // the system's 21 s, and a send blocked in Winsock cannot be cut short from another thread
    // (under Wine not even by shutdown), so every wait is a select in short slices.
    if (!net::SetBlocking(socket.Get(), false))
        return DVSNET_ERROR_RESOURCES;
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (!net::IsConnectPending(net::LastSocketError()))
            return DVSNET_ERROR_CONNECT;
        if (net::WaitForConnect(socket.Get(), kConnectTimeoutMs) != net::ConnectWait::Connected)
            return DVSNET_ERROR_CONNECT;
    }
    // Package chunks go out as they are read; waiting to fill segments only slows the transfer.
    const BOOL noDelay = TRUE;
    ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);

    Channel channel(std::move(socket));
    if (!channel.Send(Hello{request.label}))
        return DVSNET_ERROR_CONNECT;
    Welcome welcome;
    if (const LONG error = ReceiveAnswer(channel, welcome); error != DVSNET_OK)
        return error;

    if (!channel.Send(Login{request.user, request.password}))
        return DVSNET_ERROR_CONNECT;
    LoginResult login;
    if (const LONG error = ReceiveAnswer(channel, login); error != DVSNET_OK)
        return error;
    if (!login.accepted)
        return DVSNET_ERROR_LOGIN;

    if (!channel.Send(InfoRequest{}))
        return DVSNET_ERROR_CONNECT;
    Info info;
    if (const LONG error = ReceiveAnswer(channel, info); error != DVSNET_OK)
        return error;

    opened.reset(new Connection(std::move(channel), welcome, std::move(info)));
    if (!opened->m_winsock.Started())
        return DVSNET_ERROR_RESOURCES;
    return DVSNET_OK;
}

Connection::Connection(Channel&& channel, const Welcome& welcome, Info info)
    : m_channel(std::move(channel)), m_chunkLimit(std::min(welcome.maxChunk, kOwnChunkLimit)),
      m_info(std::move(info)), m_lastSent(Clock::now())
{}

Connection::~Connection() = default;

bool Connection::Start(const std::shared_ptr<Connection>& self, DVSNET_HANDLE handle)
{
    self->m_handle = handle;
    auto* keepAlive = new std::shared_ptr<Connection>(self);
    unsigned threadId = 0;
    const auto thread = reinterpret_cast<HANDLE>(::_beginthreadex(
        nullptr, 0, &Connection::WorkerMain, keepAlive, CREATE_SUSPENDED, &threadId));
    if (thread == nullptr) {
        delete keepAlive;
        return false;
    }
    self->m_worker.Reset(thread);
    self->m_workerId = threadId;
    ::ResumeThread(thread);
    return true;
}

unsigned __stdcall Connection::WorkerMain(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<Connection>> self(
        static_cast<std::shared_ptr<Connection>*>(parameter));
    // An exception leaving a thread ends the whole process; here it can only be an allocation
    // that failed, and it only ends the connection.
    try {
        (*self)->Run();
    } catch (...) {
        (*self)->m_lost.store(true);
    }
    return 0;
}

// ----- Connection: calls from the caller's threads -----

void Connection::SetMessageCallback(DVSNET_MESSAGE_CALLBACK callback, void* user)
{
    const std::lock_guard lock(m_mutex);
    m_messageCallback = callback;
    m_messageUser = user;
}

bool Connection::TransferRunning() const
{
    const std::lock_guard lock(m_mutex);
    return m_transferRunning;
}

LONG Connection::BeginTransfer(TransferRequest&& request)
{
    const std::lock_guard lock(m_mutex);
    if (m_transferRunning)
        return DVSNET_ERROR_BUSY;
    if (m_ended || m_lost.load() || m_stop.load())
        return DVSNET_ERROR_CONNECT;
    m_pending = std::make_unique<TransferRequest>(std::move(request));
    m_transferRunning = true;
    return DVSNET_OK;
}

void Connection::FillInfo(DVSNET_SERVER_INFO& info) const
{
    const DWORD size = info.size;
    info = DVSNET_SERVER_INFO{};
    info.size = size;
    CopyText(info.model, sizeof info.model, m_info.model);
    CopyText(info.name, sizeof info.name, m_info.name);
    CopyText(info.firmware, sizeof info.firmware, m_info.firmware);
    info.channels = m_info.channels;
    info.deviceType = static_cast<DWORD>(m_info.deviceType);
}

void Connection::Stop()
{
    m_stop.store(true);
    if (!m_worker || ::GetCurrentThreadId() == m_workerId)
        return;
    if (!WaitLettingSentMessagesThrough(m_worker.Get(), kGracefulStopMs)) {
        m_channel.Shutdown();
        WaitLettingSentMessagesThrough(m_worker.Get(), INFINITE);
    }
}

// ----- Connection: the worker -----

bool Connection::SendFrame(const Message& message)
{
    if (!m_channel.Send(message, &m_stop))
        return false;
    m_lastSent = Clock::now();
    return true;
}

void Connection::CloseWith(CloseReason reason)
{
    m_channel.Send(Close{reason});
    m_lost.store(true);
}

bool Connection::HandleAside(const Message& message)
{
    if (std::holds_alternative<Ping>(message))
        return SendFrame(Pong{});
    if (!std::holds_alternative<Close>(message))
        CloseWith(CloseReason::Unexpected);
    return false;
}

void Connection::Run()
{
    std::optional<Clock::time_point> pongDue;
    while (!m_stop.load() && !m_lost.load()) {
        std::unique_ptr<TransferRequest> request;
        {
            const std::lock_guard lock(m_mutex);
            request = std::move(m_pending);
        }
        if (request) {
            pongDue.reset();
            if (RunTransfer(*request) != TransferEnd::Finished)
                break;
            continue;
        }

        // Idle: keep the connection alive and notice when the device goes.
        const auto now = Clock::now();
        if (pongDue && now >= *pongDue) {
            CloseWith(CloseReason::TimeLimit);
            break;
        }
        if (!pongDue && now - m_lastSent >= kKeepAliveInterval) {
            if (!SendFrame(Ping{})) {
                m_lost.store(true);
                break;
            }
            pongDue = Clock::now() + kPongTimeout;
        }
        const Channel::Received received = m_channel.Receive(now + kWaitSlice, &m_stop);
        switch (received.outcome) {
        case Channel::Outcome::Message:
            if (std::holds_alternative<Pong>(*received.message))
                pongDue.reset();
            else if (!HandleAside(*received.message))
                m_lost.store(true);
            break;
        case Channel::Outcome::TimedOut:
        case Channel::Outcome::Interrupted:
            break;
        case Channel::Outcome::Lost:
            m_lost.store(true);
            break;
        case Channel::Outcome::BadFrame:
            CloseWith(CloseReason::BadFrame);
            break;
        case Channel::Outcome::BadVersion:
            CloseWith(CloseReason::Version);
            break;
        }
    }

    if (m_stop.load()) {
        if (!m_lost.load())
            m_channel.Send(Close{CloseReason::Done});
        return;
    }
    // A package handed over while the connection was going: it still gets its last report.
    std::unique_ptr<TransferRequest> orphan;
    {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        orphan = std::move(m_pending);
    }
    if (orphan)
        FinishTransfer(*orphan, DVSNET_ERROR_CONNECT, std::nullopt);
    NotifyMessage(DVSNET_MESSAGE_CLOSED, 0, 0);
}

Connection::TransferEnd Connection::RunTransfer(TransferRequest& request)
{
    m_lastPercent = 0;
    m_bytesSent = 0;
    const auto finish = [&](LONG result, std::optional<std::int32_t> deviceCode = std::nullopt) {
        FinishTransfer(request, result, deviceCode);
        return m_lost.load() ? TransferEnd::Lost : TransferEnd::Finished;
    };
    // What ends a wait other than the message waited for.
    const auto waitFailed = [&](const Channel::Received& received) {
        switch (received.outcome) {
        case Channel::Outcome::Interrupted:
            return TransferEnd::Stopped;
        case Channel::Outcome::TimedOut:
            CloseWith(CloseReason::TimeLimit);
            return finish(DVSNET_ERROR_CONNECT);
        case Channel::Outcome::BadFrame:
            CloseWith(CloseReason::BadFrame);
            return finish(DVSNET_ERROR_PROTOCOL);
        case Channel::Outcome::BadVersion:
            CloseWith(CloseReason::Version);
            return finish(DVSNET_ERROR_PROTOCOL);
        case Channel::Outcome::Lost:
        case Channel::Outcome::Message:
            break;
        }
        m_lost.store(true);
        return finish(DVSNET_ERROR_CONNECT);
    };
    // After HandleAside refused a message: a CLOSE or a failed PONG loses the connection, any
    // other message is a fault of the device's.
    const auto asideFailed = [&](const Message& message) {
        const bool deviceFault =
            !std::holds_alternative<Close>(message) && !std::holds_alternative<Ping>(message);
        m_lost.store(true);
        return finish(deviceFault ? DVSNET_ERROR_PROTOCOL : DVSNET_ERROR_CONNECT);
    };

    if (!SendFrame(PackageBegin{request.size, request.name})) {
        m_lost.store(true);
        return finish(DVSNET_ERROR_CONNECT);
    }
    const auto readyDue = Clock::now() + kReadyTimeout;
    for (bool ready = false; !ready;) {
        const Channel::Received received = m_channel.Receive(readyDue, &m_stop);
        if (received.outcome != Channel::Outcome::Message)
            return waitFailed(received);
        if (std::holds_alternative<PackageReady>(*received.message))
            ready = true;
        else if (const Result* refused = As<Result>(received.message))
            return finish(DVSNET_ERROR_DEVICE, refused->code);
        else if (!std::holds_alternative<Pong>(*received.message) &&
                 !HandleAside(*received.message))
            return asideFailed(*received.message);
    }

    ReportProgress(request, 0, false, DVSNET_OK);
    Crc32 crc;
    Bytes chunk(m_chunkLimit);
    while (m_bytesSent < request.size) {
        if (m_stop.load())
            return TransferEnd::Stopped;
        const DWORD want = std::min<std::uint32_t>(m_chunkLimit, request.size - m_bytesSent);
        DWORD read = 0;
        if (!::ReadFile(request.file.Get(), chunk.data(), want, &read, nullptr) || read == 0) {
            // The device is told where the package ended, which keeps the stream in step: it
            // answers with a size mismatch, and the connection stays usable.
            if (!SendFrame(PackageEnd{crc.Value()})) {
                m_lost.store(true);
                return finish(DVSNET_ERROR_CONNECT);
            }
            const Channel::Received received = m_channel.Receive(Clock::now() + kReadyTimeout);
            if (!As<Result>(received.message))
                CloseWith(received.outcome == Channel::Outcome::TimedOut ? CloseReason::TimeLimit
                                                                         : CloseReason::Unexpected);
            return finish(DVSNET_ERROR_FILE);
        }
        const std::span<const std::uint8_t> bytes(chunk.data(), read);
        if (!SendFrame(PackageData{Bytes(bytes.begin(), bytes.end())})) {
            m_lost.store(true);
            return m_stop.load() ? TransferEnd::Stopped : finish(DVSNET_ERROR_CONNECT);
        }
        crc.Update(bytes);
        m_bytesSent += read;
        const std::int32_t percent = TransferPercent(m_bytesSent, request.size);
        if (percent != m_lastPercent)
            ReportProgress(request, percent, false, DVSNET_OK);
    }
    if (!SendFrame(PackageEnd{crc.Value()})) {
        m_lost.store(true);
        return finish(DVSNET_ERROR_CONNECT);
    }

    // The device installs: it reports at least every 10 s; we ping when we have been quiet.
    auto silentUntil = Clock::now() + kInstallSilence;
    for (;;) {
        const auto pingAt = m_lastSent + kKeepAliveInterval;
        const Channel::Received received =
            m_channel.Receive(std::min(silentUntil, pingAt), &m_stop);
        if (received.outcome == Channel::Outcome::TimedOut && Clock::now() < silentUntil) {
            if (!SendFrame(Ping{})) {
                m_lost.store(true);
                return finish(DVSNET_ERROR_CONNECT);
            }
            continue;
        }
        if (received.outcome != Channel::Outcome::Message)
            return waitFailed(received);
        silentUntil = Clock::now() + kInstallSilence;
        if (const Progress* progress = As<Progress>(received.message)) {
            const std::int32_t percent = InstallPercent(progress->percent);
            if (percent > m_lastPercent)
                ReportProgress(request, percent, false, DVSNET_OK);
        } else if (const Result* result = As<Result>(received.message)) {
            return finish(result->code == kResultInstalled ? DVSNET_OK : DVSNET_ERROR_DEVICE,
                          result->code);
        } else if (!std::holds_alternative<Pong>(*received.message) &&
                   !HandleAside(*received.message)) {
            return asideFailed(*received.message);
        }
    }
}

void Connection::ReportProgress(TransferRequest& request, std::int32_t percent, bool finished,
                                LONG result)
{
    if (finished) {
        // A new transfer may be asked for from the last report on.
        const std::lock_guard lock(m_mutex);
        m_transferRunning = false;
    }
    m_lastPercent = percent;
    if (m_stop.load())
        return;
    DVSNET_PROGRESS record{};
    record.size = sizeof record;
    record.server = m_handle;
    record.bytesSent = m_bytesSent;
    record.percent = percent;
    record.finished = finished ? 1 : 0;
    record.result = result;
    if (request.callback != nullptr)
        request.callback(0, &record, request.user);
    if (!finished)
        NotifyMessage(DVSNET_MESSAGE_PROGRESS, static_cast<DWORD>(percent), 0);
}

void Connection::FinishTransfer(TransferRequest& request, LONG result,
                                std::optional<std::int32_t> deviceCode)
{
    ReportProgress(request, result == DVSNET_OK ? 100 : m_lastPercent, true, result);
    NotifyMessage(DVSNET_MESSAGE_FINISHED, static_cast<DWORD>(result),
                  static_cast<DWORD>(deviceCode.value_or(0)));
}

void Connection::NotifyMessage(DWORD message, DWORD value1, DWORD value2)
{
    if (m_stop.load())
        return;
    DVSNET_MESSAGE_CALLBACK callback = nullptr;
    void* user = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        callback = m_messageCallback;
        user = m_messageUser;
    }
    if (callback != nullptr)
        callback(m_handle, message, value1, value2, 0, user);
}

} // namespace dvsnet
