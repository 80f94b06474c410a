// The library port over real TCP on 127.0.0.1, with the frames the client would send written out
// here by hand: greeting, login, description, a package and its installation, the refusals, the
// device's answers to faults, and the reboot after a package.
#include "LibraryService.h"
#include "LoopbackSupport.h"
#include "Reboot.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <thread>

namespace devsim {
namespace {

using namespace std::chrono_literals;

std::string U32(std::uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>(value >> (8 * i) & 0xFF);
    return bytes;
}

std::string Text(const std::string& text)
{
    return static_cast<char>(text.size()) + text;
}

// magic "DVNP", version 1, type, two zero bytes, little-endian payload length, payload
std::string Frame(std::uint8_t type, const std::string& payload = "")
{
    return std::string("DVNP\x01", 5) + static_cast<char>(type) + std::string(2, '\0') +
           U32(static_cast<std::uint32_t>(payload.size())) + payload;
}

// 100,000 bytes whose CRC-32 and SHA-256 are known from elsewhere.
std::string TestPackage()
{
    std::string bytes(100000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}
constexpr std::uint32_t kTestPackageCrc32 = 0xB0A8C3CD;
constexpr char kTestPackageSha256[] =
    "96ad0ddabe9c733d4550fde750255a94806811029be67504bd9bd68e556686b9";

class Client : public LoopbackClient {
public:
    explicit Client(std::uint16_t port) : LoopbackClient("127.0.0.1", port) {}

    // Exactly `count` bytes, or fewer when the device closes or stays silent for `quiet`.
    std::string Read(std::size_t count, std::chrono::milliseconds quiet = 5s)
    {
        Received received = ReadUpTo(count, quiet);
        m_ended = m_ended || received.closed;
        return std::move(received.bytes);
    }
    // One whole frame as bytes, or what came before the stream ended.
    std::string ReadFrame(std::chrono::milliseconds quiet = 5s)
    {
        std::string header = Read(12, quiet);
        if (header.size() < 12)
            return header;
        const std::uint32_t length = static_cast<unsigned char>(header[8]) |
                                     static_cast<unsigned char>(header[9]) << 8 |
                                     static_cast<unsigned char>(header[10]) << 16 |
                                     static_cast<unsigned char>(header[11]) << 24;
        return header + Read(length, quiet);
    }
    // True when the device ends the stream with nothing more before it.
    bool EndsNext() { return Read(1).empty() && m_ended; }

    // HELLO and LOGIN as the library sends them.
    void LogIn(const std::string& user = "admin", const std::string& password = "secret")
    {
        Send(Frame(1, Text("")));
        EXPECT_EQ(ReadFrame(), Frame(2, U32(16384)));
        Send(Frame(3, Text(user) + Text(password)));
    }

private:
    bool m_ended = false;
};

class LibraryLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(::mkdtemp(m_directory), nullptr);
        m_logPath = std::string(m_directory) + "/devsim.jsonl";
        m_sysctlPath = std::string(m_directory) + "/icmp_echo_ignore_all";
        std::ofstream(m_sysctlPath) << "0\n";
    }

    Device& AddDevice()
    {
        Device device;
        device.settings.ip = "127.0.0.1";
        device.settings.mac = {0x02, 0, 0,
                               0,    0, static_cast<std::uint8_t>(0x20 + m_devices.size())};
        device.settings.model = "NVR-8";
        device.settings.name = "Hall 2";
        device.settings.firmware = "2.1.0+V7";
        device.settings.channels = 8;
        device.settings.type = -3;
        device.settings.password = "secret";
        device.settings.libraryPort = FreeTcpPort();
        device.settings.libraryInstallMs = 50;
        device.settings.rebootMs = 0;
        m_devices.push_back(device);
        return m_devices.back();
    }
    std::uint16_t Port(std::size_t device = 0) const
    {
        return m_devices[device].settings.libraryPort;
    }

    void Start()
    {
        ASSERT_TRUE(m_log.Open(m_logPath));
        m_icmp.emplace(m_sysctlPath);
        m_reboot.emplace(m_loop, m_devices, m_log, &*m_icmp, "");
        m_library.emplace(m_loop, m_devices, m_log,
                          [this](std::size_t device) { m_reboot->PackageInstalled(device); });
        ASSERT_EQ(m_library->Open("127.0.0.1"), "");
        m_thread = std::thread([this] { m_loop.Run(); });
    }

    void TearDown() override
    {
        m_loop.RequestStop();
        if (m_thread.joinable())
            m_thread.join();
        m_library.reset();
        m_reboot.reset();
        m_icmp.reset();
        std::remove(m_logPath.c_str());
        std::remove(m_sysctlPath.c_str());
        ::rmdir(m_directory);
    }

    std::vector<std::string> LogLines(const std::string& event) const
    {
        return EventLines(m_logPath, event);
    }
    std::vector<std::string> WaitForLines(const std::string& event, std::size_t count) const
    {
        return WaitForEventLines(m_logPath, event, count, 5s);
    }

    // Logged in, then the package in chunks of 16,384, then PACKAGE_END with `crc`.
    void SendPackage(Client& client, const std::string& package, std::uint32_t crc,
                     const std::string& name = "V7_2.1_a.package")
    {
        client.Send(Frame(7, U32(static_cast<std::uint32_t>(package.size())) + Text(name)));
        ASSERT_EQ(client.ReadFrame(), Frame(8));
        for (std::size_t at = 0; at < package.size(); at += 16384)
            client.Send(Frame(9, package.substr(at, 16384)));
        client.Send(Frame(10, U32(crc)));
    }

    char m_directory[32] = "/tmp/devsim-lib-XXXXXX";
    std::string m_logPath;
    std::string m_sysctlPath;
    std::vector<Device> m_devices;
    JsonLog m_log;
    EventLoop m_loop;
    std::optional<IcmpEchoSwitch> m_icmp;
    std::optional<RebootService> m_reboot;
    std::optional<LibraryService> m_library;
    std::thread m_thread;
};

TEST_F(LibraryLoopback, GreetingLoginDescriptionAndAnInstalledPackage)
{
    AddDevice();
    Start();
    Client client(Port());
    ASSERT_TRUE(client.Valid());
    client.Send(Frame(1, Text("panel")));
    EXPECT_EQ(client.ReadFrame(), Frame(2, U32(16384)));
    client.Send(Frame(3, Text("admin") + Text("secret")));
    EXPECT_EQ(client.ReadFrame(), Frame(4, std::string(1, '\0')));
    client.Send(Frame(5));
    EXPECT_EQ(client.ReadFrame(), Frame(6, Text("NVR-8") + Text("Hall 2") + Text("2.1.0+V7") +
                                               U32(8) + U32(0xFFFFFFFD)));

    SendPackage(client, TestPackage(), kTestPackageCrc32);
    for (std::uint32_t percent = 0; percent <= 100; percent += 10)
        EXPECT_EQ(client.ReadFrame(), Frame(11, U32(percent))) << percent;
    EXPECT_EQ(client.ReadFrame(), Frame(12, U32(0)));
    // The connection goes on: a PING is answered.
    client.Send(Frame(13));
    EXPECT_EQ(client.ReadFrame(), Frame(14));

    const auto hello = LogLines("library_hello");
    ASSERT_EQ(hello.size(), 1u);
    EXPECT_TRUE(Has(hello[0], "\"label\":\"panel\""));
    EXPECT_TRUE(Has(hello[0], "\"mac\":\"02:00:00:00:00:20\""));
    const auto login = LogLines("library_login");
    ASSERT_EQ(login.size(), 1u);
    EXPECT_TRUE(Has(login[0], "\"user\":\"admin\",\"password\":\"secret\",\"accepted\":true"));
    EXPECT_EQ(LogLines("library_info").size(), 1u);
    const auto begin = LogLines("library_package_begin");
    ASSERT_EQ(begin.size(), 1u);
    EXPECT_TRUE(Has(begin[0], "\"size\":100000,\"name\":\"V7_2.1_a.package\",\"accepted\":true"));
    const auto package = LogLines("library_package");
    ASSERT_EQ(package.size(), 1u);
    EXPECT_TRUE(Has(package[0], "\"received\":100000,\"crc32\":\"b0a8c3cd\","
                                "\"crc32_sent\":\"b0a8c3cd\""));
    EXPECT_TRUE(Has(package[0], std::string("\"sha256\":\"") + kTestPackageSha256 + "\""));
    EXPECT_TRUE(Has(package[0], "\"outcome\":\"installing\""));
    EXPECT_EQ(LogLines("library_progress").size(), 11u);
    const auto result = LogLines("library_result");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_TRUE(Has(result[0], "\"code\":0"));
    EXPECT_EQ(LogLines("library_ping").size(), 1u);
}

TEST_F(LibraryLoopback, WrongPasswordIsRefusedAndTheConnectionEnds)
{
    AddDevice();
    Start();
    Client client(Port());
    client.LogIn("admin", "admin");
    EXPECT_EQ(client.ReadFrame(), Frame(4, "\x01"));
    EXPECT_EQ(client.ReadFrame(), Frame(15, U32(6)));
    EXPECT_TRUE(client.EndsNext());
    const auto login = LogLines("library_login");
    ASSERT_EQ(login.size(), 1u);
    EXPECT_TRUE(Has(login[0], "\"password\":\"admin\",\"accepted\":false"));
}

TEST_F(LibraryLoopback, PackagesThatDoNotAddUpAreAnsweredAndTheStreamStaysUsable)
{
    AddDevice();
    Start();
    const std::string package = TestPackage();
    struct Case {
        const char* name;
        std::function<void(Client&)> send;
        std::string answer;
        const char* outcome;
    };
    const std::vector<Case> cases = {
        {"wrong CRC", [&](Client& c) { SendPackage(c, package, kTestPackageCrc32 ^ 1); },
         Frame(12, U32(1)), "checksum mismatch"},
        {"end before the size",
         [&](Client& c) {
             c.Send(Frame(7, U32(3) + Text("short.package")));
             EXPECT_EQ(c.ReadFrame(), Frame(8));
             c.Send(Frame(9, "ab"));
             c.Send(Frame(10, U32(0)));
         },
         Frame(12, U32(2)), "size mismatch"},
    };
    Client client(Port());
    client.LogIn();
    EXPECT_EQ(client.ReadFrame(), Frame(4, std::string(1, '\0')));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.send(client);
        EXPECT_EQ(client.ReadFrame(), c.answer);
        // Still logged in and in step.
        client.Send(Frame(13));
        EXPECT_EQ(client.ReadFrame(), Frame(14));
    }
    const auto lines = LogLines("library_package");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(Has(lines[0], "\"outcome\":\"checksum mismatch\""));
    EXPECT_TRUE(Has(lines[0], "\"crc32\":\"b0a8c3cd\",\"crc32_sent\":\"b0a8c3cc\""));
    EXPECT_TRUE(Has(lines[1], "\"received\":2"));
    EXPECT_TRUE(Has(lines[1], "\"outcome\":\"size mismatch\""));
    EXPECT_TRUE(LogLines("library_result").empty());
}

TEST_F(LibraryLoopback, DataPastTheSizeEndsTheConnection)
{
    AddDevice();
    Start();
    Client client(Port());
    client.LogIn();
    EXPECT_EQ(client.ReadFrame(), Frame(4, std::string(1, '\0')));
    client.Send(Frame(7, U32(3) + Text("short.package")));
    EXPECT_EQ(client.ReadFrame(), Frame(8));
    client.Send(Frame(9, "abcd"));
    EXPECT_EQ(client.ReadFrame(), Frame(12, U32(2)));
    EXPECT_EQ(client.ReadFrame(), Frame(15, U32(2)));
    EXPECT_TRUE(client.EndsNext());
}

TEST_F(LibraryLoopback, EmptyPackagesAndPackagesDuringAnInstallationAreRefused)
{
    Device& device = AddDevice();
    device.settings.libraryInstallMs = 3000;
    Start();
    Client first(Port());
    first.LogIn();
    EXPECT_EQ(first.ReadFrame(), Frame(4, std::string(1, '\0')));
    first.Send(Frame(7, U32(0) + Text("empty.package")));
    EXPECT_EQ(first.ReadFrame(), Frame(12, U32(3)));

    SendPackage(first, TestPackage(), kTestPackageCrc32);
    EXPECT_EQ(first.ReadFrame(), Frame(11, U32(0)));
    // Another connection while the device installs.
    Client second(Port());
    second.LogIn();
    EXPECT_EQ(second.ReadFrame(), Frame(4, std::string(1, '\0')));
    second.Send(Frame(7, U32(10) + Text("other.package")));
    EXPECT_EQ(second.ReadFrame(), Frame(12, U32(3)));

    const auto begins = LogLines("library_package_begin");
    ASSERT_EQ(begins.size(), 3u);
    EXPECT_TRUE(Has(begins[0], "\"accepted\":false,\"reason\":\"empty package\""));
    EXPECT_TRUE(Has(begins[1], "\"accepted\":true"));
    EXPECT_TRUE(Has(begins[2], "\"accepted\":false,\"reason\":\"installing\""));
}

TEST_F(LibraryLoopback, FaultsAreAnsweredWithCloseAndTheEnd)
{
    AddDevice();
    Start();
    std::string version2 = Frame(1, Text(""));
    version2[4] = 2;
    struct Case {
        const char* name;
        bool logIn; // first
        std::string bytes;
        std::uint32_t reason;
    };
    const std::vector<Case> cases = {
        {"HTTP on the port", false, "GET / HTTP/1.1\r\n\r\n", 1},
        {"version 2", false, version2, 3},
        {"reserved field", false, std::string("DVNP\x01\x01\x00\x01", 8), 1},
        {"payload over 64 KiB", false, std::string("DVNP\x01\x01\x00\x00\x01\x00\x01\x00", 12), 1},
        {"LOGIN before HELLO", false, Frame(3, Text("admin") + Text("secret")), 2},
        {"PING before HELLO", false, Frame(13), 2},
        {"HELLO label too long", false, Frame(1, Text(std::string(64, 'a'))), 1},
        {"data before a package", true, Frame(9, "x"), 2},
        {"unknown type", true, Frame(99), 1},
        {"info request with a payload", true, Frame(5, "x"), 1},
        {"LOGIN again", true, Frame(3, Text("admin") + Text("secret")), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Client client(Port());
        if (c.logIn) {
            client.LogIn();
            EXPECT_EQ(client.ReadFrame(), Frame(4, std::string(1, '\0')));
        }
        client.Send(c.bytes);
        EXPECT_EQ(client.ReadFrame(), Frame(15, U32(c.reason)));
        EXPECT_TRUE(client.EndsNext());
    }
    EXPECT_EQ(LogLines("library_close").size(), cases.size());
}

TEST_F(LibraryLoopback, FailingInstallationStopsHalfWayWithItsCode)
{
    Device& device = AddDevice();
    device.settings.libraryResult = -7;
    device.settings.rebootMs = 5000;
    Start();
    Client client(Port());
    client.LogIn();
    EXPECT_EQ(client.ReadFrame(), Frame(4, std::string(1, '\0')));
    SendPackage(client, TestPackage(), kTestPackageCrc32);
    for (std::uint32_t percent = 0; percent <= 50; percent += 10)
        EXPECT_EQ(client.ReadFrame(), Frame(11, U32(percent))) << percent;
    EXPECT_EQ(client.ReadFrame(), Frame(12, U32(static_cast<std::uint32_t>(-7))));
    const auto result = LogLines("library_result");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_TRUE(Has(result[0], "\"code\":-7"));
    // No reboot after a failure.
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(LogLines("reboot").empty());
}

TEST_F(LibraryLoopback, InstalledPackageRebootsTheDeviceWhichDropsTheConnection)
{
    Device& device = AddDevice();
    device.settings.rebootDelayMs = 50;
    device.settings.rebootMs = 500;
    Start();
    Client client(Port());
    client.LogIn();
    EXPECT_EQ(client.ReadFrame(), Frame(4, std::string(1, '\0')));
    SendPackage(client, TestPackage(), kTestPackageCrc32);
    for (std::uint32_t percent = 0; percent <= 100; percent += 10)
        client.ReadFrame();
    EXPECT_EQ(client.ReadFrame(), Frame(12, U32(0)));
    EXPECT_EQ(client.ReadFrame(), Frame(15, U32(5)));
    EXPECT_TRUE(client.EndsNext());
    const auto down = WaitForLines("reboot", 1);
    ASSERT_FALSE(down.empty());
    EXPECT_TRUE(Has(down[0], "\"phase\":\"down\""));

    // While it is down, connections are taken and dropped at once.
    Client during(Port());
    EXPECT_TRUE(during.EndsNext());
    const auto dropped = LogLines("library_dropped");
    ASSERT_EQ(dropped.size(), 2u);
    EXPECT_TRUE(Has(dropped[1], "\"reason\":\"rebooting\""));
}

TEST(LibraryService, ListensOncePerPortAndNotForPort0)
{
    char directory[32] = "/tmp/devsim-lib-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string logPath = std::string(directory) + "/log";
    JsonLog log;
    ASSERT_TRUE(log.Open(logPath));
    EventLoop loop;
    std::vector<Device> devices(3);
    const std::uint16_t port = FreeTcpPort();
    devices[0].settings.libraryPort = port;
    devices[1].settings.libraryPort = port;
    devices[2].settings.libraryPort = 0;
    {
        LibraryService library(loop, devices, log, nullptr);
        ASSERT_EQ(library.Open("127.0.0.1"), "");
        EXPECT_EQ(library.Endpoints(),
                  (std::vector<std::string>{"127.0.0.1:" + std::to_string(port)}));
    }
    std::remove(logPath.c_str());
    ::rmdir(directory);
}

} // namespace
} // namespace devsim
