// DVSNETClient.dll in-process, against a device played by a thread of the test on 127.0.0.1.
// The device side is written here byte by byte from dvsnet/PROTOCOL.md, without the library's
// codec, so that a mistake in the codec shows instead of being mirrored.
#include "dvsnet/DVSNETClient.h"
#include "tests/DvnpBytes.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using dvnp_bytes::Bytes;
using namespace std::chrono_literals;

static_assert(sizeof(DVSNET_SERVER_INFO) == 156);
static_assert(offsetof(DVSNET_PROGRESS, percent) == 12);
static_assert(offsetof(DVSNET_PROGRESS, finished) == 16);

// Message types and CLOSE reasons of the protocol note.
enum : std::uint8_t {
    kHello = 1,
    kWelcome,
    kLogin,
    kLoginResult,
    kInfoRequest,
    kInfo,
    kPackageBegin,
    kPackageReady,
    kPackageData,
    kPackageEnd,
    kProgress,
    kResult,
    kPing,
    kPong,
    kClose,
};

using dvnp_bytes::Cat;
using dvnp_bytes::FrameBytes;
using dvnp_bytes::Text;
using dvnp_bytes::U32;

// Bit by bit, as the protocol note defines it; the library uses a table.
std::uint32_t Crc32(const Bytes& bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1u) != 0 ? 0xEDB88320u : 0u);
    }
    return ~crc;
}

struct Frame {
    Bytes header;
    std::uint8_t type = 0;
    Bytes payload;
};

// The device's end of one connection, used by a script on the device's thread.
class Peer {
public:
    explicit Peer(SOCKET socket) : m_socket(socket) {}

    // The next frame, or nothing when the client closed, failed or stayed silent for `quiet`.
    std::optional<Frame> Read(std::chrono::milliseconds quiet = 20s)
    {
        Frame frame;
        if (!ReadExactly(12, frame.header, quiet))
            return std::nullopt;
        frame.type = frame.header[5];
        const std::uint32_t length = frame.header[8] | frame.header[9] << 8 |
                                     frame.header[10] << 16 | frame.header[11] << 24;
        if (length > 65536 || !ReadExactly(length, frame.payload, quiet))
            return std::nullopt;
        std::lock_guard lock(m_mutex);
        m_frames.push_back(frame);
        return frame;
    }
    // Reads until a frame of this type; false when the connection ends first.
    bool ReadUntil(std::uint8_t type)
    {
        for (;;) {
            const auto frame = Read();
            if (!frame)
                return false;
            if (frame->type == type)
                return true;
        }
    }
    // Records whatever the client still sends until it closes (or 20 s pass).
    void ReadToEnd()
    {
        while (Read())
            ;
    }
    void Send(std::uint8_t type, const Bytes& payload = {}) { SendRaw(FrameBytes(type, payload)); }
    void SendRaw(const Bytes& bytes)
    {
        ::send(m_socket, reinterpret_cast<const char*>(bytes.data()),
               static_cast<int>(bytes.size()), 0);
    }

    // HELLO → WELCOME, LOGIN → LOGIN_RESULT, INFO_REQUEST → INFO.
    bool Greet(std::uint32_t maxChunk = 65536, bool accept = true)
    {
        if (!ReadUntil(kHello))
            return false;
        Send(kWelcome, U32(maxChunk));
        if (!ReadUntil(kLogin))
            return false;
        Send(kLoginResult, {static_cast<std::uint8_t>(accept ? 0 : 1)});
        if (!accept) {
            Send(kClose, U32(6));
            return false;
        }
        if (!ReadUntil(kInfoRequest))
            return false;
        Send(kInfo, Cat({Text("NVR-8"), Text("Hall 2"), Text("2.1.0+V7"), U32(8),
                         U32(static_cast<std::uint32_t>(-3))}));
        return true;
    }

    std::vector<Frame> Frames()
    {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }
    // The client has closed its end (or reset it).
    bool Ended() const { return m_ended; }

private:
    bool ReadExactly(std::size_t count, Bytes& into, std::chrono::milliseconds quiet)
    {
        into.resize(count);
        std::size_t have = 0;
        while (have < count) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_socket, &readable);
            timeval limit{static_cast<long>(quiet.count() / 1000),
                          static_cast<long>(quiet.count() % 1000 * 1000)};
            if (::select(0, &readable, nullptr, nullptr, &limit) != 1)
                return false;
            const int got = ::recv(m_socket, reinterpret_cast<char*>(into.data() + have),
                                   static_cast<int>(count - have), 0);
            if (got <= 0) {
                m_ended = true;
                return false;
            }
            have += static_cast<std::size_t>(got);
        }
        return true;
    }

    SOCKET m_socket;
    bool m_ended = false;
    std::mutex m_mutex;
    std::vector<Frame> m_frames;
};

// Listens on 127.0.0.1 and runs the script on the first connection, on a thread of its own.
class FakeDevice {
public:
    using Script = std::function<void(Peer&)>;

    // receiveBuffer: SO_RCVBUF of the device's socket, 0 for the system's.
    explicit FakeDevice(Script script, int receiveBuffer = 0) : m_script(std::move(script))
    {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF,
                         reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_listener, 4);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FakeDevice()
    {
        Join();
        ::closesocket(m_listener);
        ::WSACleanup();
    }

    WORD Port() const { return m_port; }
    // Waits for the script to end; the frames it read are then in Frames().
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    std::vector<Frame> Frames() { return m_peer ? m_peer->Frames() : std::vector<Frame>{}; }
    bool Accepted() const { return m_accepted.load(); }

private:
    void Serve()
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_listener, &readable);
        timeval limit{20, 0};
        if (::select(0, &readable, nullptr, nullptr, &limit) != 1)
            return;
        const SOCKET client = ::accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return;
        m_accepted = true;
        m_peer = std::make_unique<Peer>(client);
        m_script(*m_peer);
        ::closesocket(client);
    }

    Script m_script;
    SOCKET m_listener = INVALID_SOCKET;
    WORD m_port = 0;
    std::atomic<bool> m_accepted{false};
    std::unique_ptr<Peer> m_peer;
    std::thread m_thread;
};

// What the callbacks saw, in order.
class Recorder {
public:
    struct MessageSeen {
        DVSNET_HANDLE server;
        DWORD message, value1, value2, value3;
        LONG infoResult; // of the DVSNET_GetServerInfo the callback made, as the panel does
        std::string infoModel;
    };
    struct ProgressSeen {
        DVSNET_PROGRESS record;
        DWORD reserved;
        DWORD thread;
    };

    Recorder() : m_finished(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Recorder() { ::CloseHandle(m_finished); }

    static void CALLBACK OnMessage(DVSNET_HANDLE server, DWORD message, DWORD value1, DWORD value2,
                                   DWORD value3, void* user)
    {
        auto* self = static_cast<Recorder*>(user);
        DVSNET_SERVER_INFO info{};
        info.size = sizeof info;
        const LONG infoResult = DVSNET_GetServerInfo(server, &info);
        std::lock_guard lock(self->m_mutex);
        self->m_messages.push_back(
            {server, message, value1, value2, value3, infoResult, std::string(info.model)});
    }

    static LONG CALLBACK OnProgress(DWORD reserved, const DVSNET_PROGRESS* progress, void* user)
    {
        auto* self = static_cast<Recorder*>(user);
        {
            std::lock_guard lock(self->m_mutex);
            self->m_progress.push_back({*progress, reserved, ::GetCurrentThreadId()});
        }
        if (self->onProgress)
            self->onProgress(*progress);
        if (progress->finished != 0)
            ::SetEvent(self->m_finished);
        return 0;
    }

    bool WaitFinished(DWORD milliseconds = 30000)
    {
        return ::WaitForSingleObject(m_finished, milliseconds) == WAIT_OBJECT_0;
    }
    // Until `condition` holds over what was seen, for a few seconds at most.
    bool WaitFor(const std::function<bool(const Recorder&)>& condition)
    {
        for (int i = 0; i < 2000; ++i) {
            {
                std::lock_guard lock(m_mutex);
                if (condition(*this))
                    return true;
            }
            ::Sleep(10);
        }
        return false;
    }
    std::vector<ProgressSeen> Progress() const
    {
        std::lock_guard lock(m_mutex);
        return m_progress;
    }
    std::vector<MessageSeen> Messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

    std::function<void(const DVSNET_PROGRESS&)> onProgress;
    std::vector<ProgressSeen> m_progress;
    std::vector<MessageSeen> m_messages;

private:
    mutable std::mutex m_mutex;
    HANDLE m_finished;
};

// A package file in the test's temporary folder, removed at the end.
class PackageFile {
public:
    PackageFile(const std::string& name, const Bytes& content)
    {
        char folder[MAX_PATH];
        ::GetTempPathA(MAX_PATH, folder);
        m_path = std::string(folder) + name;
        HANDLE file = ::CreateFileA(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (!content.empty())
            ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
                        nullptr);
        ::CloseHandle(file);
    }
    ~PackageFile() { ::DeleteFileA(m_path.c_str()); }
    const char* Path() const { return m_path.c_str(); }

private:
    std::string m_path;
};

Bytes TestPackage(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    return bytes;
}

LONG Open(WORD port, DVSNET_HANDLE& server, const char* password = "secret")
{
    return DVSNET_OpenServer("", "127.0.0.1", port, "admin", password, &server, 0, 0);
}

std::vector<Frame> OfType(const std::vector<Frame>& frames, std::uint8_t type)
{
    std::vector<Frame> found;
    for (const Frame& frame : frames)
        if (frame.type == type)
            found.push_back(frame);
    return found;
}

// A port nobody listens on: bound once, then closed.
WORD ClosedPort()
{
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(probe);
    ::WSACleanup();
    return ntohs(address.sin_port);
}

// ----- Opening -----

TEST(DvsnetClient, OpensWithGreetingAndLoginAndDescribesTheDevice)
{
    FakeDevice device([](Peer& peer) {
        if (peer.Greet())
            peer.ReadToEnd();
    });
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(
        DVSNET_OpenServer("panel", "127.0.0.1", device.Port(), "admin", "secret", &server, 0, 0),
        DVSNET_OK);
    EXPECT_NE(server, 0u);

    DVSNET_SERVER_INFO info;
    std::memset(&info, 0x55, sizeof info);
    info.size = sizeof info;
    ASSERT_EQ(DVSNET_GetServerInfo(server, &info), DVSNET_OK);
    EXPECT_EQ(info.size, 156u);
    EXPECT_STREQ(info.model, "NVR-8");
    EXPECT_STREQ(info.name, "Hall 2");
    EXPECT_STREQ(info.firmware, "2.1.0+V7");
    EXPECT_EQ(info.channels, 8u);
    EXPECT_EQ(static_cast<LONG>(info.deviceType), -3);
    for (DWORD reserved : info.reserved)
        EXPECT_EQ(reserved, 0u);
    // Zero-filled behind each text, not left as it was.
    EXPECT_EQ(info.model[31], 0);

    EXPECT_EQ(DVSNET_CloseServer(server), DVSNET_OK);
    device.Join();
    const std::vector<Frame> frames = device.Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].header, (Bytes{'D', 'V', 'N', 'P', 1, kHello, 0, 0, 6, 0, 0, 0}));
    EXPECT_EQ(frames[0].payload, Text("panel"));
    EXPECT_EQ(frames[1].type, kLogin);
    EXPECT_EQ(frames[1].payload, Cat({Text("admin"), Text("secret")}));
    EXPECT_EQ(frames[2].type, kInfoRequest);
    EXPECT_TRUE(frames[2].payload.empty());
    EXPECT_EQ(frames[3].type, kClose);
    EXPECT_EQ(frames[3].payload, U32(0));
}

TEST(DvsnetClient, RefusedLoginFailsAndLeavesTheHandleVariableAlone)
{
    FakeDevice device([](Peer& peer) {
        peer.Greet(65536, false);
        peer.ReadToEnd();
    });
    DVSNET_HANDLE server = 0xABCD;
    EXPECT_EQ(Open(device.Port(), server, "wrong"), DVSNET_ERROR_LOGIN);
    EXPECT_EQ(server, 0xABCDu);
    device.Join();
    const auto logins = OfType(device.Frames(), kLogin);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].payload, Cat({Text("admin"), Text("wrong")}));
}

TEST(DvsnetClient, GreetingFaultsOfTheDeviceFailTheOpen)
{
    struct Case {
        const char* name;
        std::function<void(Peer&)> answerHello;
        LONG expected;
    };
    const std::vector<Case> cases = {
        {"closes at once", [](Peer&) {}, DVSNET_ERROR_CONNECT},
        {"says nothing", [](Peer& peer) { peer.Read(6s); }, DVSNET_ERROR_CONNECT},
        {"answers HTTP",
         [](Peer& peer) {
             peer.SendRaw({'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '2', '0', '0'});
         },
         DVSNET_ERROR_PROTOCOL},
        {"speaks version 2",
         [](Peer& peer) {
             Bytes frame = FrameBytes(kWelcome, U32(65536));
             frame[4] = 2;
             peer.SendRaw(frame);
         },
         DVSNET_ERROR_PROTOCOL},
        {"answers with a PING", [](Peer& peer) { peer.Send(kPing); }, DVSNET_ERROR_PROTOCOL},
        {"welcome limit below 1024", [](Peer& peer) { peer.Send(kWelcome, U32(1023)); },
         DVSNET_ERROR_PROTOCOL},
        {"closes for its version", [](Peer& peer) { peer.Send(kClose, U32(3)); },
         DVSNET_ERROR_PROTOCOL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevice device([&c](Peer& peer) {
            if (peer.ReadUntil(kHello))
                c.answerHello(peer);
            peer.Read(1s);
        });
        DVSNET_HANDLE server = 0;
        EXPECT_EQ(Open(device.Port(), server), c.expected);
        EXPECT_EQ(server, 0u);
    }
}

TEST(DvsnetClient, ClosedPortFailsToConnect)
{
    DVSNET_HANDLE server = 0;
    EXPECT_EQ(Open(ClosedPort(), server), DVSNET_ERROR_CONNECT);
    EXPECT_EQ(server, 0u);
}

// Refused before any connection: a closed port would otherwise answer CONNECT.
TEST(DvsnetClient, OpenArgumentsAreCheckedFirst)
{
    const WORD port = ClosedPort();
    const std::string text39(39, 'a'), text40(40, 'a'), text64(64, 'a');
    DVSNET_HANDLE server = 0;
    struct Case {
        const char* name;
        const char* label;
        const char* address;
        WORD port;
        const char* user;
        const char* password;
        DVSNET_HANDLE* server;
        LONG reserved1, reserved2;
    };
    const std::vector<Case> cases = {
        {"null address", "", nullptr, port, "admin", "", &server, 0, 0},
        {"empty address", "", "", port, "admin", "", &server, 0, 0},
        {"address of 40", "", text40.c_str(), port, "admin", "", &server, 0, 0},
        {"null user", "", "127.0.0.1", port, nullptr, "", &server, 0, 0},
        {"user of 40", "", "127.0.0.1", port, text40.c_str(), "", &server, 0, 0},
        {"null password", "", "127.0.0.1", port, "admin", nullptr, &server, 0, 0},
        {"password of 40", "", "127.0.0.1", port, "admin", text40.c_str(), &server, 0, 0},
        {"label of 64", text64.c_str(), "127.0.0.1", port, "admin", "", &server, 0, 0},
        {"no handle variable", "", "127.0.0.1", port, "admin", "", nullptr, 0, 0},
        {"port 0", "", "127.0.0.1", 0, "admin", "", &server, 0, 0},
        {"first reserved value", "", "127.0.0.1", port, "admin", "", &server, 1, 0},
        {"second reserved value", "", "127.0.0.1", port, "admin", "", &server, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DVSNET_OpenServer(c.label, c.address, c.port, c.user, c.password, c.server,
                                    c.reserved1, c.reserved2),
                  DVSNET_ERROR_ARGUMENT);
    }
    // The longest texts pass the checks and get as far as the (closed) port.
    EXPECT_EQ(DVSNET_OpenServer(nullptr, "127.0.0.1", port, text39.c_str(), text39.c_str(), &server,
                                0, 0),
              DVSNET_ERROR_CONNECT);
    EXPECT_EQ(server, 0u);
}

// ----- Handles and records -----

TEST(DvsnetClient, UnknownAndClosedHandlesAreRefused)
{
    FakeDevice device([](Peer& peer) {
        if (peer.Greet())
            peer.ReadToEnd();
    });
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    PackageFile package("dvsnet_handles.package", TestPackage(10));
    DVSNET_SERVER_INFO info{};
    info.size = sizeof info;
    for (const DVSNET_HANDLE unknown : {DVSNET_HANDLE{0}, server + 1, DVSNET_HANDLE{0xFFFFFFFF}}) {
        SCOPED_TRACE(unknown);
        EXPECT_EQ(DVSNET_RegServerMsgCallback(unknown, &Recorder::OnMessage, nullptr),
                  DVSNET_ERROR_HANDLE);
        EXPECT_EQ(DVSNET_UpdateServer(unknown, package.Path(), &Recorder::OnProgress, nullptr),
                  DVSNET_ERROR_HANDLE);
        EXPECT_EQ(DVSNET_GetServerInfo(unknown, &info), DVSNET_ERROR_HANDLE);
        EXPECT_EQ(DVSNET_CloseServer(unknown), DVSNET_ERROR_HANDLE);
    }
    EXPECT_EQ(DVSNET_RegServerMsgCallback(server, &Recorder::OnMessage, nullptr), DVSNET_OK);
    ASSERT_EQ(DVSNET_CloseServer(server), DVSNET_OK);

    EXPECT_EQ(DVSNET_RegServerMsgCallback(server, &Recorder::OnMessage, nullptr),
              DVSNET_ERROR_HANDLE);
    EXPECT_EQ(DVSNET_GetServerInfo(server, &info), DVSNET_ERROR_HANDLE);
    EXPECT_EQ(DVSNET_CloseServer(server), DVSNET_ERROR_HANDLE);
}

TEST(DvsnetClient, ServerInfoWantsItsExactSize)
{
    FakeDevice device([](Peer& peer) {
        if (peer.Greet())
            peer.ReadToEnd();
    });
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    for (const DWORD size : {DWORD{0}, DWORD{155}, DWORD{157}, DWORD{4}}) {
        SCOPED_TRACE(size);
        DVSNET_SERVER_INFO info{};
        info.size = size;
        info.model[0] = 'x';
        EXPECT_EQ(DVSNET_GetServerInfo(server, &info), DVSNET_ERROR_ARGUMENT);
        EXPECT_EQ(info.model[0], 'x');
        EXPECT_EQ(info.size, size);
    }
    EXPECT_EQ(DVSNET_GetServerInfo(server, nullptr), DVSNET_ERROR_ARGUMENT);
    DVSNET_CloseServer(server);
}

// ----- Transfers -----

// Greets, then takes one package and installs it: PROGRESS 0, 50, 100, RESULT `code`.
struct InstallScript {
    std::uint32_t maxChunk = 65536;
    std::int32_t code = 0;
    Bytes received;
    std::optional<Frame> begin;
    std::optional<Frame> end;
    std::vector<std::size_t> chunkSizes;

    void operator()(Peer& peer)
    {
        if (!peer.Greet(maxChunk) || !TakePackage(peer))
            return;
        for (std::uint32_t percent : {0u, 50u, 100u})
            peer.Send(kProgress, U32(percent));
        peer.Send(kResult, U32(static_cast<std::uint32_t>(code)));
        peer.ReadToEnd();
    }
    bool TakePackage(Peer& peer)
    {
        for (;;) {
            const auto frame = peer.Read();
            if (!frame)
                return false;
            if (frame->type == kPackageBegin) {
                begin = frame;
                peer.Send(kPackageReady);
            } else if (frame->type == kPackageData) {
                chunkSizes.push_back(frame->payload.size());
                received.insert(received.end(), frame->payload.begin(), frame->payload.end());
            } else if (frame->type == kPackageEnd) {
                end = frame;
                return true;
            }
        }
    }
};

TEST(DvsnetClient, TransferSendsThePackageAndReportsToTheEnd)
{
    const Bytes content = TestPackage(10000);
    PackageFile package("V7_2.1_test.package", content);
    InstallScript script;
    script.maxChunk = 1024;
    FakeDevice device(std::ref(script));
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    Recorder recorder;
    ASSERT_EQ(DVSNET_RegServerMsgCallback(server, &Recorder::OnMessage, &recorder), DVSNET_OK);

    ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &recorder),
              DVSNET_OK);
    ASSERT_TRUE(recorder.WaitFinished());
    ASSERT_TRUE(recorder.WaitFor([](const Recorder& r) {
        return !r.m_messages.empty() && r.m_messages.back().message == DVSNET_MESSAGE_FINISHED;
    }));
    EXPECT_EQ(DVSNET_CloseServer(server), DVSNET_OK);
    device.Join();

    // What the device received.
    ASSERT_TRUE(script.begin && script.end);
    EXPECT_EQ(script.begin->payload, Cat({U32(10000), Text("V7_2.1_test.package")}));
    EXPECT_EQ(script.received, content);
    for (std::size_t size : script.chunkSizes)
        EXPECT_LE(size, 1024u);
    EXPECT_EQ(script.end->payload, U32(Crc32(content)));

    // What the caller saw: percentages that never go down, 0..90 while sending, 90..99 while
    // installing, one last record with 100.
    const auto progress = recorder.Progress();
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front().record.percent, 0);
    std::vector<LONG> install;
    for (std::size_t i = 0; i < progress.size(); ++i) {
        const DVSNET_PROGRESS& record = progress[i].record;
        SCOPED_TRACE(i);
        EXPECT_EQ(record.size, sizeof(DVSNET_PROGRESS));
        EXPECT_EQ(record.server, server);
        EXPECT_EQ(progress[i].reserved, 0u);
        EXPECT_NE(progress[i].thread, ::GetCurrentThreadId());
        if (i > 0) {
            EXPECT_GE(record.percent, progress[i - 1].record.percent);
        }
        EXPECT_EQ(record.finished != 0, i + 1 == progress.size());
        if (record.finished == 0 && record.bytesSent == 10000 && record.percent > 90)
            install.push_back(record.percent);
    }
    const DVSNET_PROGRESS& last = progress.back().record;
    EXPECT_EQ(last.percent, 100);
    EXPECT_EQ(last.result, DVSNET_OK);
    EXPECT_EQ(last.bytesSent, 10000u);
    EXPECT_EQ(install, (std::vector<LONG>{94, 99})); // device 50 and 100; its 0 is the 90 sent

    // The message callback: progress beside each record, FINISHED last, and GetServerInfo works
    // from inside it.
    const auto messages = recorder.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().message, DWORD{DVSNET_MESSAGE_FINISHED});
    EXPECT_EQ(messages.back().value1, static_cast<DWORD>(DVSNET_OK));
    for (const auto& message : messages) {
        EXPECT_EQ(message.server, server);
        EXPECT_EQ(message.infoResult, DVSNET_OK);
        EXPECT_EQ(message.infoModel, "NVR-8");
    }
    EXPECT_EQ(messages.size(), progress.size());
}

TEST(DvsnetClient, DeviceFailuresEndTheTransferWithTheirCode)
{
    struct Case {
        const char* name;
        std::function<void(Peer&)> afterGreeting;
        LONG result;
        DWORD deviceCode;
        LONG lastPercent; // where the bar stays
    };
    const std::vector<Case> cases = {
        {"refused at the start",
         [](Peer& peer) {
             peer.ReadUntil(kPackageBegin);
             peer.Send(kResult, U32(3));
             peer.ReadToEnd();
         },
         DVSNET_ERROR_DEVICE, 3, 0},
        {"checksum mismatch",
         [](Peer& peer) {
             InstallScript script;
             script.TakePackage(peer);
             peer.Send(kResult, U32(1));
             peer.ReadToEnd();
         },
         DVSNET_ERROR_DEVICE, 1, 90},
        {"install failed with its own code",
         [](Peer& peer) {
             InstallScript script;
             script.TakePackage(peer);
             peer.Send(kProgress, U32(30));
             peer.Send(kResult, U32(static_cast<std::uint32_t>(-7)));
             peer.ReadToEnd();
         },
         DVSNET_ERROR_DEVICE, static_cast<DWORD>(-7), 92},
        {"connection dropped while installing",
         [](Peer& peer) {
             InstallScript script;
             script.TakePackage(peer);
             peer.Send(kProgress, U32(30));
         },
         DVSNET_ERROR_CONNECT, 0, 92},
        {"nonsense while installing",
         [](Peer& peer) {
             InstallScript script;
             script.TakePackage(peer);
             peer.Send(kWelcome, U32(4096));
             peer.ReadToEnd();
         },
         DVSNET_ERROR_PROTOCOL, 0, 90},
    };
    const Bytes content = TestPackage(5000);
    PackageFile package("dvsnet_failures.package", content);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevice device([&c](Peer& peer) {
            if (peer.Greet())
                c.afterGreeting(peer);
        });
        DVSNET_HANDLE server = 0;
        ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
        Recorder recorder;
        DVSNET_RegServerMsgCallback(server, &Recorder::OnMessage, &recorder);
        ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &recorder),
                  DVSNET_OK);
        ASSERT_TRUE(recorder.WaitFinished());
        ASSERT_TRUE(recorder.WaitFor([](const Recorder& r) {
            for (const auto& message : r.m_messages)
                if (message.message == DVSNET_MESSAGE_FINISHED)
                    return true;
            return false;
        }));
        DVSNET_CloseServer(server);
        device.Join();

        const DVSNET_PROGRESS last = recorder.Progress().back().record;
        EXPECT_EQ(last.finished, 1);
        EXPECT_EQ(last.result, c.result);
        EXPECT_EQ(last.percent, c.lastPercent);
        bool finishedSeen = false;
        for (const auto& message : recorder.Messages()) {
            if (message.message != DVSNET_MESSAGE_FINISHED)
                continue;
            finishedSeen = true;
            EXPECT_EQ(message.value1, static_cast<DWORD>(c.result));
            EXPECT_EQ(message.value2, c.deviceCode);
        }
        EXPECT_TRUE(finishedSeen);
        EXPECT_EQ(OfType(device.Frames(), kPackageData).empty(), c.lastPercent == 0);
    }
}

TEST(DvsnetClient, OneTransferAtATimeAndTheNextAfterTheEnd)
{
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FakeDevice device([release](Peer& peer) {
        if (!peer.Greet() || !peer.ReadUntil(kPackageBegin))
            return;
        // Holds the first transfer until the test has tried a second one.
        ::WaitForSingleObject(release, 20000);
        for (int transfer = 0; transfer < 2; ++transfer) {
            if (transfer == 1 && !peer.ReadUntil(kPackageBegin))
                return;
            peer.Send(kPackageReady);
            if (!peer.ReadUntil(kPackageEnd))
                return;
            peer.Send(kResult, U32(0));
        }
        peer.ReadToEnd();
    });
    PackageFile package("dvsnet_busy.package", TestPackage(3000));
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    Recorder first, second;
    ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &first),
              DVSNET_OK);
    EXPECT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &second),
              DVSNET_ERROR_BUSY);
    ::SetEvent(release);
    ASSERT_TRUE(first.WaitFinished());
    EXPECT_EQ(first.Progress().back().record.result, DVSNET_OK);

    ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &second),
              DVSNET_OK);
    ASSERT_TRUE(second.WaitFinished());
    EXPECT_EQ(second.Progress().back().record.result, DVSNET_OK);
    DVSNET_CloseServer(server);
    device.Join();
    ::CloseHandle(release);
    EXPECT_EQ(OfType(device.Frames(), kPackageBegin).size(), 2u);
}

TEST(DvsnetClient, UpdateArgumentsAndFilesAreCheckedBeforeAnythingIsSent)
{
    FakeDevice device([](Peer& peer) {
        if (peer.Greet())
            peer.ReadToEnd();
    });
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    PackageFile empty("dvsnet_empty.package", {});
    PackageFile package("dvsnet_args.package", TestPackage(10));
    const std::string tooLong(MAX_PATH, 'a');
    Recorder recorder;
    struct Case {
        const char* name;
        const char* path;
        DVSNET_PROGRESS_CALLBACK callback;
        LONG expected;
    };
    const std::vector<Case> cases = {
        {"null path", nullptr, &Recorder::OnProgress, DVSNET_ERROR_ARGUMENT},
        {"empty path", "", &Recorder::OnProgress, DVSNET_ERROR_ARGUMENT},
        {"path of MAX_PATH", tooLong.c_str(), &Recorder::OnProgress, DVSNET_ERROR_ARGUMENT},
        {"no callback", package.Path(), nullptr, DVSNET_ERROR_ARGUMENT},
        {"missing file", "C:\\no such folder\\x.package", &Recorder::OnProgress, DVSNET_ERROR_FILE},
        {"empty file", empty.Path(), &Recorder::OnProgress, DVSNET_ERROR_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DVSNET_UpdateServer(server, c.path, c.callback, &recorder), c.expected);
    }
    DVSNET_CloseServer(server);
    device.Join();
    EXPECT_TRUE(OfType(device.Frames(), kPackageBegin).empty());
    EXPECT_TRUE(recorder.Progress().empty());
}

// ----- Closing -----

// Greets, takes the package, then reports the same progress every 20 ms until the client goes.
void EndlessInstall(Peer& peer)
{
    InstallScript script;
    if (!peer.Greet() || !script.TakePackage(peer))
        return;
    while (!peer.Ended()) {
        peer.Send(kProgress, U32(40));
        peer.Read(20ms);
    }
}

TEST(DvsnetClient, NoCallbackAfterCloseDuringATransfer)
{
    FakeDevice device(EndlessInstall);
    PackageFile package("dvsnet_close.package", TestPackage(20000));
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    Recorder recorder;
    DVSNET_RegServerMsgCallback(server, &Recorder::OnMessage, &recorder);
    ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &recorder),
              DVSNET_OK);
    ASSERT_TRUE(recorder.WaitFor([](const Recorder& r) {
        return !r.m_progress.empty() && r.m_progress.back().record.percent > 90;
    }));
    ASSERT_EQ(DVSNET_CloseServer(server), DVSNET_OK);
    const std::size_t progressAtClose = recorder.Progress().size();
    const std::size_t messagesAtClose = recorder.Messages().size();
    ::Sleep(300);
    EXPECT_EQ(recorder.Progress().size(), progressAtClose);
    EXPECT_EQ(recorder.Messages().size(), messagesAtClose);
    for (const auto& seen : recorder.Progress())
        EXPECT_EQ(seen.record.finished, 0);
    device.Join();
    const auto closes = OfType(device.Frames(), kClose);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].payload, U32(0));
}

TEST(DvsnetClient, CloseEndsASendTheDeviceNoLongerReads)
{
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FakeDevice device(
        [done](Peer& peer) {
            if (!peer.Greet() || !peer.ReadUntil(kPackageBegin))
                return;
            peer.Send(kPackageReady);
            // Reads nothing more: the client's sends fill the buffers and block.
            ::WaitForSingleObject(done, 20000);
        },
        4096);
    PackageFile package("dvsnet_stuck.package", TestPackage(16 << 20));
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    Recorder recorder;
    ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &recorder),
              DVSNET_OK);
    // Sending has begun, and stalls.
    ASSERT_TRUE(recorder.WaitFor([](const Recorder& r) { return !r.m_progress.empty(); }));
    ::Sleep(500);
    const std::size_t seen = recorder.Progress().size();
    ASSERT_LT(recorder.Progress().back().record.percent, 90) << "the package went through";
    EXPECT_EQ(DVSNET_CloseServer(server), DVSNET_OK);
    EXPECT_EQ(recorder.Progress().size(), seen);
    for (const auto& progress : recorder.Progress())
        EXPECT_EQ(progress.record.finished, 0);
    ::SetEvent(done);
    device.Join();
    ::CloseHandle(done);
}

TEST(DvsnetClient, CloseFromInsideAProgressCallback)
{
    FakeDevice device(EndlessInstall);
    PackageFile package("dvsnet_inside.package", TestPackage(4000));
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    Recorder recorder;
    std::atomic<LONG> closeResult{-1};
    std::atomic<int> callsAfterClose{0};
    recorder.onProgress = [&](const DVSNET_PROGRESS& progress) {
        if (closeResult.load() != -1)
            ++callsAfterClose;
        else if (progress.percent >= 90)
            closeResult = DVSNET_CloseServer(server);
    };
    ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &recorder),
              DVSNET_OK);
    ASSERT_TRUE(recorder.WaitFor([&](const Recorder&) { return closeResult.load() != -1; }));
    EXPECT_EQ(closeResult.load(), DVSNET_OK);
    ::Sleep(300);
    EXPECT_EQ(callsAfterClose.load(), 0);
    EXPECT_EQ(DVSNET_CloseServer(server), DVSNET_ERROR_HANDLE);
    device.Join();
    EXPECT_EQ(OfType(device.Frames(), kClose).size(), 1u);
}

// The panel's case: its progress callback sends messages to its bar, and the panel closes the
// connection from its own window thread. Here the close comes while such a message waits for
// that thread: the close must let it through, or neither side can go on.
TEST(DvsnetClient, CloseFromAWindowThreadWhoseWindowTheCallbackSendsTo)
{
    FakeDevice device(EndlessInstall);
    PackageFile package("dvsnet_window.package", TestPackage(4000));
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);

    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HANDLE sending = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Recorder recorder;
    recorder.onProgress = [window, sending](const DVSNET_PROGRESS& progress) {
        if (progress.percent <= 90 || ::WaitForSingleObject(sending, 0) == WAIT_OBJECT_0)
            return;
        ::SetEvent(sending);
        ::SendMessageW(window, WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(std::to_wstring(progress.percent).c_str()));
    };
    ASSERT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &recorder),
              DVSNET_OK);
    // Not pumping: the message stays pending until the close lets it through.
    ASSERT_EQ(::WaitForSingleObject(sending, 20000), WAIT_OBJECT_0);

    // Fails the test rather than hanging it when the close deadlocks.
    std::atomic<bool> closed{false};
    std::thread watchdog([&closed] {
        for (int i = 0; i < 1000 && !closed.load(); ++i)
            ::Sleep(10);
        if (!closed.load()) {
            std::fputs("DVSNET_CloseServer did not return within 10 s\n", stderr);
            ::ExitProcess(3);
        }
    });
    EXPECT_EQ(DVSNET_CloseServer(server), DVSNET_OK);
    closed = true;
    watchdog.join();
    wchar_t text[8] = {};
    ::GetWindowTextW(window, text, 8);
    EXPECT_STREQ(text, L"93");
    ::DestroyWindow(window);
    ::CloseHandle(sending);
    device.Join();
}

TEST(DvsnetClient, DeviceEndingAnIdleConnectionIsReported)
{
    HANDLE registered = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FakeDevice device([registered](Peer& peer) {
        if (!peer.Greet())
            return;
        ::WaitForSingleObject(registered, 20000);
        // A PING of the device's is answered; then the device goes down.
        peer.Send(kPing);
        peer.ReadUntil(kPong);
        peer.Send(kClose, U32(5));
    });
    DVSNET_HANDLE server = 0;
    ASSERT_EQ(Open(device.Port(), server), DVSNET_OK);
    Recorder recorder;
    ASSERT_EQ(DVSNET_RegServerMsgCallback(server, &Recorder::OnMessage, &recorder), DVSNET_OK);
    ::SetEvent(registered);
    ASSERT_TRUE(recorder.WaitFor([](const Recorder& r) { return !r.m_messages.empty(); }));
    device.Join();
    ::CloseHandle(registered);
    const auto messages = recorder.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, DWORD{DVSNET_MESSAGE_CLOSED});
    EXPECT_EQ(messages[0].server, server);
    EXPECT_EQ(OfType(device.Frames(), kPong).size(), 1u);

    PackageFile package("dvsnet_gone.package", TestPackage(10));
    EXPECT_EQ(DVSNET_UpdateServer(server, package.Path(), &Recorder::OnProgress, &recorder),
              DVSNET_ERROR_CONNECT);
    // The handle stays until it is closed.
    DVSNET_SERVER_INFO info{};
    info.size = sizeof info;
    EXPECT_EQ(DVSNET_GetServerInfo(server, &info), DVSNET_OK);
    EXPECT_EQ(DVSNET_CloseServer(server), DVSNET_OK);
}

} // namespace
