// The discovery service over real UDP, on 127.0.0.1 only: searches, Modify IP and the log.
#include "DiscoveryService.h"
#include "LoopbackSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <thread>

namespace devsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Requests are made here by hand from the byte tables; the service must read them.
Bytes Head(std::size_t size, std::uint8_t kind)
{
    Bytes bytes(size);
    std::memcpy(bytes.data(), "searching..", 11);
    if (size > 12)
        bytes[12] = kind;
    return bytes;
}

void PutText(Bytes& bytes, std::size_t offset, const std::string& text)
{
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

Bytes SearchRequestBytes(const std::string& sender)
{
    Bytes bytes = Head(180, 2);
    PutText(bytes, 13, sender);
    return bytes;
}

struct ModifyValues {
    std::string current, ip, mask, gateway, dns;
    MacAddress mac;
    std::int32_t http, rtsp, mobile;
    std::uint8_t dhcp;
};

Bytes ModifyRequestBytes(const ModifyValues& v)
{
    Bytes bytes = Head(180, 3);
    PutText(bytes, 13, v.current);
    PutText(bytes, 29, v.ip);
    PutText(bytes, 45, v.mask);
    PutText(bytes, 61, v.gateway);
    PutText(bytes, 77, v.dns);
    std::copy(v.mac.begin(), v.mac.end(), bytes.begin() + 93);
    const std::int32_t ports[] = {v.http, v.rtsp, v.mobile};
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t i = 0; i < 4; ++i)
            bytes[100 + 4 * p + i] =
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(ports[p]) >> (8 * i));
    bytes[112] = v.dhcp;
    return bytes;
}

// What a reply says at the offsets of the byte table.
struct ReplyView {
    explicit ReplyView(const Bytes& reply) : bytes(reply) {}
    std::string Text(std::size_t offset) const
    {
        return reinterpret_cast<const char*>(bytes.data() + offset);
    }
    MacAddress Mac() const
    {
        MacAddress mac;
        std::copy_n(bytes.begin() + 23, 6, mac.begin());
        return mac;
    }
    std::int32_t BigEndian(std::size_t offset) const
    {
        return static_cast<std::int32_t>(std::uint32_t{bytes[offset]} << 24 |
                                         std::uint32_t{bytes[offset + 1]} << 16 |
                                         std::uint32_t{bytes[offset + 2]} << 8 | bytes[offset + 3]);
    }
    const Bytes& bytes;
};

constexpr MacAddress kCameraMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x10};
constexpr MacAddress kNvrMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x20};

Device MakeDevice(const char* model, const char* ip, MacAddress mac, bool isClone = false)
{
    Device device;
    device.settings.model = model;
    device.settings.name = model;
    device.settings.ip = ip;
    device.settings.mask = "255.255.0.0";
    device.settings.gateway = "10.77.0.1";
    device.settings.mac = mac;
    device.isClone = isClone;
    return device;
}

class DiscoveryLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(::mkdtemp(m_directory), nullptr);
        m_logPath = std::string(m_directory) + "/devsim.jsonl";
        m_devices = {MakeDevice("IPCAMERA", "10.77.0.21", kCameraMac),
                     MakeDevice("NVR", "10.77.0.22", kNvrMac),
                     MakeDevice("NVR", "10.77.0.23", {0x02, 0, 0, 0, 0x00, 0x21}, true)};

        m_client.Reset(::socket(AF_INET, SOCK_DGRAM, 0));
        ASSERT_TRUE(m_client.Valid());
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(m_client.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        socklen_t length = sizeof local;
        ::getsockname(m_client.Get(), reinterpret_cast<sockaddr*>(&local), &length);
        m_clientEndpoint = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
    }

    // Devices may be changed by a test before this.
    void Start()
    {
        ASSERT_TRUE(m_log.Open(m_logPath));
        m_service.emplace(m_loop, m_devices, m_log, [this](const AddressChange& change) {
            std::lock_guard lock(m_movesLock);
            m_moves.push_back(change);
        });
        ASSERT_EQ(m_service->Open("127.0.0.1", 0), "");
        m_thread = std::thread([this] { m_loop.Run(); });
    }

    void TearDown() override
    {
        m_loop.RequestStop();
        if (m_thread.joinable())
            m_thread.join();
        std::remove(m_logPath.c_str());
        ::rmdir(m_directory);
    }

    void Send(const Bytes& bytes)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(m_service->Port());
        ASSERT_EQ(::sendto(m_client.Get(), bytes.data(), bytes.size(), 0,
                           reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }

    // The wait only guards against a hang; a healthy run answers at once.
    std::vector<Bytes> Receive(std::size_t count)
    {
        std::vector<Bytes> received;
        while (received.size() < count) {
            pollfd ready{m_client.Get(), POLLIN, 0};
            if (::poll(&ready, 1, 5000) != 1)
                break;
            Bytes bytes(2048);
            const ssize_t length = ::recv(m_client.Get(), bytes.data(), bytes.size(), 0);
            bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
            received.push_back(std::move(bytes));
        }
        return received;
    }

    // Requests are handled in arrival order, so once a later search is answered everything
    // sent before it has been handled and logged.
    std::vector<Bytes> SearchAndReceive()
    {
        Send(SearchRequestBytes("127.0.0.1"));
        return Receive(m_devices.size());
    }

    std::vector<std::string> LogLines(const std::string& event) const
    {
        return EventLines(m_logPath, event);
    }

    char m_directory[32] = "/tmp/devsim-loopback-XXXXXX";
    std::string m_logPath;
    std::vector<Device> m_devices;
    JsonLog m_log;
    EventLoop m_loop;
    std::optional<DiscoveryService> m_service;
    std::thread m_thread;
    UniqueFd m_client;
    std::string m_clientEndpoint;
    std::mutex m_movesLock;
    std::vector<AddressChange> m_moves;
};

TEST_F(DiscoveryLoopback, SearchIsAnsweredOnceByEveryDevice)
{
    Start();
    const Bytes request = SearchRequestBytes("127.0.0.1");
    Send(request);
    const std::vector<Bytes> replies = Receive(3);
    ASSERT_EQ(replies.size(), 3u);
    const char* ips[] = {"10.77.0.21", "10.77.0.22", "10.77.0.23"};
    for (std::size_t i = 0; i < replies.size(); ++i) {
        const ReplyView reply(replies[i]);
        ASSERT_EQ(replies[i].size(), 316u);
        EXPECT_EQ(reply.Text(0), "searching..");
        EXPECT_EQ(replies[i][12], 1);
        EXPECT_EQ(reply.Mac(), m_devices[i].settings.mac);
        EXPECT_EQ(reply.Text(30), ips[i]);
    }

    const auto searches = LogLines("search");
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_TRUE(Has(searches[0], "\"from\":\"" + m_clientEndpoint + "\""));
    EXPECT_TRUE(Has(searches[0], "\"length\":180"));
    EXPECT_TRUE(Has(searches[0], "\"sender_address\":\"127.0.0.1\""));
    EXPECT_TRUE(Has(searches[0], "\"hex\":\"736561726368696e672e2e0002"
                                 "3132372e302e302e31" +
                                     std::string(2 * (180 - 22), '0') + "\""));
    const auto sent = LogLines("reply");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_TRUE(Has(sent[0], "\"to\":\"" + m_clientEndpoint + "\""));
    EXPECT_TRUE(Has(sent[0], "\"mac\":\"02:00:00:00:00:10\""));
    EXPECT_TRUE(Has(sent[2], "\"ip\":\"10.77.0.23\""));
}

TEST_F(DiscoveryLoopback, ModifiedSettingsShowInTheNextSearch)
{
    Start();
    Send(ModifyRequestBytes({"10.77.0.22", "10.77.3.9", "255.255.255.0", "10.77.3.1", "10.77.3.254",
                             kNvrMac, 8080, 1554, 9000, 0}));
    const std::vector<Bytes> replies = SearchAndReceive();
    ASSERT_EQ(replies.size(), 3u);

    const ReplyView nvr(replies[1]);
    EXPECT_EQ(nvr.Mac(), kNvrMac);
    EXPECT_EQ(nvr.Text(30), "10.77.3.9");
    EXPECT_EQ(nvr.Text(46), "255.255.255.0");
    EXPECT_EQ(nvr.Text(62), "10.77.3.1");
    EXPECT_EQ(nvr.Text(78), "10.77.3.254");
    EXPECT_EQ(nvr.BigEndian(228), 8080);
    EXPECT_EQ(nvr.BigEndian(232), 1554);
    EXPECT_EQ(nvr.BigEndian(236), 9000);
    EXPECT_EQ(replies[1][248], 0);
    EXPECT_EQ(ReplyView(replies[0]).Text(30), "10.77.0.21"); // other devices keep theirs

    const auto modify = LogLines("modify");
    ASSERT_EQ(modify.size(), 1u);
    for (const char* part :
         {R"("current_address":"10.77.0.22")", R"("ip":"10.77.3.9")", R"("mask":"255.255.255.0")",
          R"("gateway":"10.77.3.1")", R"("dns":"10.77.3.254")", R"("mac":"02:00:00:00:00:20")",
          R"("http_port":8080)", R"("rtsp_port":1554)", R"("mobile_port":9000)", R"("dhcp":0)",
          R"("length":180)"})
        EXPECT_TRUE(Has(modify[0], part));
    const auto modified = LogLines("modified");
    ASSERT_EQ(modified.size(), 1u);
    EXPECT_TRUE(Has(modified[0], R"("changes":{"ip":"10.77.3.9","mask":"255.255.255.0",)"
                                 R"("gateway":"10.77.3.1","dns":"10.77.3.254","http_port":8080,)"
                                 R"("rtsp_port":1554,"mobile_port":9000})"));

    std::lock_guard lock(m_movesLock);
    ASSERT_EQ(m_moves.size(), 1u);
    EXPECT_EQ(m_moves[0].oldIp, "10.77.0.22");
    EXPECT_EQ(m_moves[0].oldMask, "255.255.0.0");
    EXPECT_EQ(m_moves[0].newIp, "10.77.3.9");
    EXPECT_EQ(m_moves[0].newMask, "255.255.255.0");
}

TEST_F(DiscoveryLoopback, DhcpOnKeepsTheAddressAndTakesThePorts)
{
    Start();
    Send(ModifyRequestBytes({"10.77.0.21", "", "", "", "", kCameraMac, 81, 555, 0, 1}));
    const std::vector<Bytes> replies = SearchAndReceive();
    ASSERT_EQ(replies.size(), 3u);
    const ReplyView camera(replies[0]);
    EXPECT_EQ(camera.Text(30), "10.77.0.21");
    EXPECT_EQ(camera.Text(46), "255.255.0.0");
    EXPECT_EQ(camera.Text(62), "10.77.0.1");
    EXPECT_EQ(camera.BigEndian(228), 81);
    EXPECT_EQ(camera.BigEndian(232), 555);
    EXPECT_EQ(camera.BigEndian(236), 0);
    EXPECT_EQ(replies[0][248], 1);

    const auto modified = LogLines("modified");
    ASSERT_EQ(modified.size(), 1u);
    EXPECT_TRUE(
        Has(modified[0], R"("changes":{"http_port":81,"rtsp_port":555,"mobile_port":0,"dhcp":1})"));
    std::lock_guard lock(m_movesLock);
    EXPECT_TRUE(m_moves.empty());
}

TEST_F(DiscoveryLoopback, CloneChangesOnlyInMemory)
{
    Start();
    const MacAddress cloneMac{0x02, 0, 0, 0, 0x00, 0x21};
    Send(ModifyRequestBytes({"10.77.0.23", "10.77.0.99", "255.255.0.0", "10.77.0.1", "0.0.0.0",
                             cloneMac, 80, 554, 8000, 0}));
    const std::vector<Bytes> replies = SearchAndReceive();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(ReplyView(replies[2]).Text(30), "10.77.0.99");
    std::lock_guard lock(m_movesLock);
    EXPECT_TRUE(m_moves.empty());
}

TEST_F(DiscoveryLoopback, EveryOtherDatagramIsLoggedAndChangesNothing)
{
    Start();
    const MacAddress unknown{0x02, 0, 0, 0, 0x00, 0x99};
    Bytes shortModify = ModifyRequestBytes(
        {"10.77.0.21", "10.77.0.50", "255.255.0.0", "10.77.0.1", "", kCameraMac, 80, 554, 8000, 0});
    shortModify.pop_back();
    Bytes badSignature = SearchRequestBytes("127.0.0.1");
    badSignature[11] = '.';

    struct Case {
        Bytes datagram;
        const char* event;
        const char* detail;
    };
    const Case cases[] = {
        {ModifyRequestBytes({"10.77.0.21", "10.77.0.50", "255.255.0.0", "10.77.0.1", "", unknown,
                             80, 554, 8000, 0}),
         "ignored", R"("mac":"02:00:00:00:00:99")"},
        {shortModify, "junk", R"("length":179)"},
        {badSignature, "junk", "bad signature"},
        {Bytes{'s', 'e', 'a', 'r', 'c'}, "junk", R"("hex":"7365617263")"},
        {Head(180, 0), "junk", "unknown kind"},
        {Head(180, 4), "junk", "unknown kind"},
        {Head(316, 1), "heard_reply", R"("length":316)"},
    };
    for (const Case& c : cases) {
        const std::size_t before = LogLines(c.event).size();
        Send(c.datagram);
        const std::vector<Bytes> replies = SearchAndReceive();
        ASSERT_EQ(replies.size(), 3u) << c.event << " " << c.detail;
        EXPECT_EQ(ReplyView(replies[0]).Text(30), "10.77.0.21");
        EXPECT_EQ(ReplyView(replies[0]).BigEndian(228), 80);
        const auto lines = LogLines(c.event);
        ASSERT_EQ(lines.size(), before + 1) << c.event << " " << c.detail;
        EXPECT_TRUE(Has(lines.back(), c.detail));
        EXPECT_TRUE(Has(lines.back(), "\"from\":\"" + m_clientEndpoint + "\""));
    }
    EXPECT_TRUE(LogLines("modified").empty());
}

TEST_F(DiscoveryLoopback, ShortSearchIsStillAnswered)
{
    Start();
    Bytes request = Head(20, 2);
    PutText(request, 13, "10.77.0");
    Send(request);
    EXPECT_EQ(Receive(3).size(), 3u);
    const auto searches = LogLines("search");
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_TRUE(Has(searches[0], R"("length":20)"));
    EXPECT_TRUE(Has(searches[0], R"("sender_address":"10.77.0")"));
}

TEST_F(DiscoveryLoopback, DelayedCopiesAllArriveAndSilentDevicesSendNone)
{
    m_devices[0].settings.replyCopies = 3;
    m_devices[0].settings.replyDelayMs = 20;
    m_devices[1].settings.replyCopies = 0;
    m_devices[2].settings.replyDelayMs = 10;
    Start();
    Send(SearchRequestBytes("127.0.0.1"));
    const std::vector<Bytes> replies = Receive(4);
    ASSERT_EQ(replies.size(), 4u);
    // The shorter delay answers first; the copies are identical.
    EXPECT_EQ(ReplyView(replies[0]).Mac(), m_devices[2].settings.mac);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(ReplyView(replies[i]).Mac(), kCameraMac);
        EXPECT_EQ(replies[i], replies[1]);
    }
    EXPECT_EQ(LogLines("reply").size(), 4u);
}

} // namespace
} // namespace devsim
