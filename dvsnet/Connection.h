// One open connection of DVSNETClient.dll to a device's library port: the greeting and login
// done by Open on the caller's thread, then a worker thread of its own that keeps the connection
// alive, runs package transfers and calls the caller back. Windows only.
#pragma once

#include "dvsnet/DVSNETClient.h"
#include "dvsnet/Protocol.h"
#include "framework/Handles.h"
#include "net/Socket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace dvsnet {

// The socket and the bytes received but not yet taken as frames. Receive is for one thread at a
// time; Shutdown may come from any thread.
class Channel {
public:
    enum class Outcome {
        Message,
        TimedOut,
        Interrupted, // the interrupt flag was seen set
        Lost,        // closed by the peer, reset, or a send or receive failed
        BadFrame,    // a header that is not ours, or a payload its type does not allow
        BadVersion,
    };
    struct Received {
        Outcome outcome = Outcome::TimedOut;
        std::optional<Message> message;
    };
    using Clock = std::chrono::steady_clock;

    explicit Channel(net::UniqueSocket socket) : m_socket(std::move(socket)) {}

    // Sends the whole frame; false when the connection is gone, the device has taken nothing
    // for 20 s, or `interrupt` (may be null) was seen set while waiting for it to take more.
    bool Send(const Message& message, const std::atomic<bool>* interrupt = nullptr);
    // The next message, waiting until `deadline` at most. The wait is cut into short slices, so
    // that `interrupt` (may be null) is looked at several times a second.
    Received Receive(Clock::time_point deadline, const std::atomic<bool>* interrupt = nullptr);
    // Ends the socket's blocked and future calls at once.
    void Shutdown();

private:
    net::UniqueSocket m_socket;
    Bytes m_received;
};

// WSAStartup for as long as the object lives.
class WinsockUse {
public:
    WinsockUse();
    ~WinsockUse();
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
    bool Started() const { return m_started; }

private:
    bool m_started = false;
};

struct OpenRequest {
    std::string label;
    std::string address;
    std::uint16_t port = kDefaultPort;
    std::string user;
    std::string password;
};

// A package the caller handed to DVSNET_UpdateServer, with its file already open.
struct TransferRequest {
    fw::KernelHandle file;
    std::uint32_t size = 0;
    std::string name; // without its folder, at most kMaxPackageName bytes
    DVSNET_PROGRESS_CALLBACK callback = nullptr;
    void* user = nullptr;
};

class Connection {
public:
    // Connects, greets, logs in and reads the device's description; a DVSNET_ error when any of
    // it fails. The worker is not running yet.
    static LONG Open(const OpenRequest& request, std::unique_ptr<Connection>& opened);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts the worker thread; `self` keeps the connection alive until the worker ends.
    static bool Start(const std::shared_ptr<Connection>& self, DVSNET_HANDLE handle);

    void SetMessageCallback(DVSNET_MESSAGE_CALLBACK callback, void* user);
    bool TransferRunning() const;
    bool Lost() const { return m_lost.load(); }
    // DVSNET_OK when the worker has taken the transfer, DVSNET_ERROR_BUSY or _CONNECT when not.
    LONG BeginTransfer(TransferRequest&& request);
    void FillInfo(DVSNET_SERVER_INFO& info) const;

    // No callback runs once this returns. Ends a transfer that still runs, says goodbye to the
    // device and waits for the worker, letting through messages sent to this thread's windows
    // meanwhile: the callbacks may be sending to them and the worker could not end otherwise.
    // Called from a callback, on the worker itself, it only asks the worker to end.
    void Stop();

private:
    enum class TransferEnd { Finished, Lost, Stopped };

    Connection(Channel&& channel, const Welcome& welcome, Info info);

    static unsigned __stdcall WorkerMain(void* parameter);
    void Run();
    TransferEnd RunTransfer(TransferRequest& request);
    // Answers a PING; false for anything else (a CLOSE, or a message that is not the device's
    // to send at this point), which ends the connection.
    bool HandleAside(const Message& message);
    bool SendFrame(const Message& message);
    void CloseWith(CloseReason reason);

    // The callbacks: never with a lock held, never after Stop.
    void ReportProgress(TransferRequest& request, std::int32_t percent, bool finished, LONG result);
    // The last report, then DVSNET_MESSAGE_FINISHED with the device's RESULT code if any.
    void FinishTransfer(TransferRequest& request, LONG result,
                        std::optional<std::int32_t> deviceCode);
    void NotifyMessage(DWORD message, DWORD value1, DWORD value2);

    WinsockUse m_winsock; // first in, last out: the socket goes before WSACleanup
    Channel m_channel;
    const std::uint32_t m_chunkLimit;
    const Info m_info;
    DVSNET_HANDLE m_handle = 0;

    mutable std::mutex m_mutex; // guards the members below it up to the atomics
    DVSNET_MESSAGE_CALLBACK m_messageCallback = nullptr;
    void* m_messageUser = nullptr;
    std::unique_ptr<TransferRequest> m_pending;
    bool m_transferRunning = false;
    bool m_ended = false; // the worker has left for good

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_lost{false};
    fw::KernelHandle m_worker;
    DWORD m_workerId = 0;
    Channel::Clock::time_point m_lastSent;
    std::int32_t m_lastPercent = 0;
    std::uint32_t m_bytesSent = 0;
};

} // namespace dvsnet
