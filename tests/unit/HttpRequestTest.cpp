// The HTTP client against peers on 127.0.0.1: the request as the device receives it, answers of
// every shape, failures before and during the connection, and hostile peers that never finish.
#include "http/HttpRequest.h"

#include "net/Socket.h"

#include "LoopbackListener.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ----- Loopback peers -----

using test::Listener;
using test::Readable;
using test::SendAll;

std::string LoopbackUrl(std::uint16_t port, const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

// Accepts connection after connection on a thread of its own and lets `serve` play the device on
// each; `stop` tells a serve that waits or loops to give up.
class Peer {
public:
    using Serve = std::function<void(int fd, const std::atomic<bool>& stop)>;
    explicit Peer(Serve serve) : m_serve(std::move(serve)), m_thread([this] { Run(); }) {}
    ~Peer() { Finish(); }
    std::string Url(const std::string& path) const { return LoopbackUrl(m_listener.Port(), path); }
    int Accepted() const { return m_accepted; }
    void Finish()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run()
    {
        while (Readable(m_listener.Fd(), 60s, m_stop)) {
            net::UniqueSocket connection(::accept(m_listener.Fd(), nullptr, nullptr));
            if (!connection)
                continue;
            ++m_accepted;
            m_serve(connection.Get(), m_stop);
        }
    }

    Listener m_listener;
    Serve m_serve;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};

// The request as the device receives it: everything up to the empty line, and whatever follows
// until the client has been quiet for a while.
std::string ReadRequest(int fd, const std::atomic<bool>& stop)
{
    std::string request;
    char buffer[4096];
    while (Readable(fd, request.find("\r\n\r\n") == std::string::npos ? 5000ms : 200ms, stop)) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0)
            break;
        request.append(buffer, static_cast<std::size_t>(count));
    }
    return request;
}

// Holds the connection open, answering nothing, until the client closes it.
void WaitForClose(int fd, const std::atomic<bool>& stop)
{
    char buffer[4096];
    while (Readable(fd, 20s, stop)) {
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

// Ends the connection with a reset instead of an orderly close.
void Reset(int fd)
{
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::shutdown(fd, SHUT_RDWR);
}

// What a peer streams forever; position i holds the same byte in every run.
std::string Pattern(std::size_t from, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (from + i) % 26);
    return bytes;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A response record that a failed request must leave exactly as it was.
struct Untouched {
    Untouched()
    {
        for (auto* buffer : {&response.request, &response.header, &response.body}) {
            *buffer = std::make_unique<char[]>(4);
            std::memcpy(buffer->get(), "old", 4);
        }
        response.bodyLength = 3;
        request = response.request.get();
        header = response.header.get();
        body = response.body.get();
    }
    bool Holds() const
    {
        return response.request.get() == request && response.header.get() == header &&
               response.body.get() == body && response.bodyLength == 3 &&
               std::strcmp(body, "old") == 0;
    }
    HttpResponse response;
    const char* request;
    const char* header;
    const char* body;
};

// The request lines that never change, written out from the line table.
const std::string kFixedLines = "Accept: */*\r\n"
                                "Accept-Language: en-us\r\n"
                                "Accept-Encoding: gzip, default\r\n"
                                "User-Agent: http client\r\n";

// A GET of "/" to 127.0.0.1 with `token`: the bytes around the path.
std::string GetFrame(const std::string& token)
{
    return "GET / HTTP/1.1\r\n" + kFixedLines + "Authorization: Basic " + token +
           "\r\nHost: 127.0.0.1\r\n\r\n";
}

// ----- The request on the wire -----

TEST(HttpRequest, SendsTheCredentialQueryOfAnIpCameraByteForByte)
{
    std::string received;
    Peer peer([&](int fd, const std::atomic<bool>& stop) {
        received = ReadRequest(fd, stop);
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nOK");
    });
    CHttpRequest client;
    std::string requestText, header, body;
    ASSERT_EQ(HttpGet(client, peer.Url("/vb.htm?paratest=authority").c_str(), "YWRtaW46",
                      requestText, header, body),
              kHttpGetOk);
    peer.Finish();

    const std::string expected = "GET /vb.htm?paratest=authority HTTP/1.1\r\n" + kFixedLines +
                                 "Authorization: Basic YWRtaW46\r\n"
                                 "Host: 127.0.0.1\r\n"
                                 "\r\n";
    EXPECT_EQ(received, expected);
    EXPECT_EQ(requestText, expected);
    EXPECT_EQ(header, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    EXPECT_EQ(body, "OK");
}

TEST(HttpRequest, PostsWithContentLengthAndABodyCutAtNul)
{
    std::string received;
    Peer peer([&](int fd, const std::atomic<bool>& stop) {
        received = ReadRequest(fd, stop);
        SendAll(fd, "HTTP/1.1 200 OK\r\n\r\n");
    });
    CHttpRequest client;
    HttpResponse response;
    const char postData[] = "a=1\0b=2";
    ASSERT_EQ(client.SendRequest(peer.Url("").c_str(), "Content-Type: text/plain\r\n", postData, 7,
                                 response, ""),
              kRequestDone);
    peer.Finish();

    const std::string expected = "POST / HTTP/1.1\r\n" + kFixedLines +
                                 "Authorization: Basic \r\n"
                                 "Content-Length: 7\r\n"
                                 "Host: 127.0.0.1\r\n"
                                 "Content-Type: text/plain\r\n"
                                 "\r\n"
                                 "a=1";
    EXPECT_EQ(received, expected);
    EXPECT_STREQ(response.request.get(), expected.c_str());
    EXPECT_EQ(std::memcmp(postData, "a=1\0b=2", 8), 0);
}

TEST(HttpRequest, SendsTheLongestRequestThatFitsItsBuffer)
{
    std::string received;
    Peer peer([&](int fd, const std::atomic<bool>& stop) { received = ReadRequest(fd, stop); });
    CHttpRequest client;
    HttpResponse response;
    const std::string token(4095 - GetFrame("").size(), 't');
    ASSERT_EQ(
        client.SendRequest(peer.Url("/").c_str(), nullptr, nullptr, 0, response, token.c_str()),
        kRequestDone);
    peer.Finish();
    EXPECT_EQ(received, GetFrame(token));
    EXPECT_EQ(received.size(), 4095u);
}

// ----- Answers of every shape -----

struct AnswerCase {
    const char* name;
    std::string answer;
    std::string header;
    std::string body;     // every byte, NUL bytes included
    std::string bodyText; // what HttpGet hands back: the body up to its first NUL
};

void PrintTo(const AnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class HttpAnswer : public testing::TestWithParam<AnswerCase> {};

TEST_P(HttpAnswer, IsHandedBackRawWhateverItSays)
{
    const AnswerCase& c = GetParam();
    Peer peer([&](int fd, const std::atomic<bool>& stop) {
        ReadRequest(fd, stop);
        SendAll(fd, c.answer);
    });
    // One object for both requests, as the progress polling uses it.
    CHttpRequest client;
    HttpResponse response;
    ASSERT_EQ(client.SendRequest(peer.Url("/vb.htm?paratest=authority").c_str(), nullptr, nullptr,
                                 0, response, "dG9rZW4="),
              kRequestDone);
    EXPECT_STREQ(response.header.get(), c.header.c_str());
    ASSERT_EQ(response.bodyLength, static_cast<std::int32_t>(c.body.size()));
    EXPECT_EQ(std::string(response.body.get(), c.body.size()), c.body);
    EXPECT_EQ(response.body[c.body.size()], '\0');

    std::string requestText, header, body;
    ASSERT_EQ(HttpGet(client, peer.Url("/").c_str(), "", requestText, header, body), kHttpGetOk);
    EXPECT_EQ(header, c.header);
    EXPECT_EQ(body, c.bodyText);
    peer.Finish();
    EXPECT_EQ(peer.Accepted(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpAnswer,
    testing::Values(
        AnswerCase{"Ok", "HTTP/1.1 200 OK\r\nServer: cam\r\n\r\nauthority=1\r\n",
                   "HTTP/1.1 200 OK\r\nServer: cam\r\n\r\n", "authority=1\r\n", "authority=1\r\n"},
        // A refusal is not a failure of the client: the caller reads the status.
        AnswerCase{"Refusal",
                   "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n"
                   "<html>401</html>",
                   "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n",
                   "<html>401</html>", "<html>401</html>"},
        AnswerCase{"LfOnlyLines", "HTTP/1.0 200 OK\nServer: cam\n\nline1\n\nline2",
                   "HTTP/1.0 200 OK\nServer: cam\n\n", "line1\n\nline2", "line1\n\nline2"},
        AnswerCase{"ContentLengthTooSmall", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcdef",
                   "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "abcdef", "abcdef"},
        AnswerCase{"NulBytesInBody", "HTTP/1.1 200 OK\r\n\r\nab\0cd\0"s, "HTTP/1.1 200 OK\r\n\r\n",
                   "ab\0cd\0"s, "ab"},
        AnswerCase{"HeaderOnly", "HTTP/1.1 200 OK\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n", "", ""},
        AnswerCase{"ClosedWithoutAnswer", "", "", "", ""}));

TEST(HttpRequest, SilentPeerGivesAnEmptyAnswerAfterOneTimeoutPerPhase)
{
    Peer peer([](int fd, const std::atomic<bool>& stop) { WaitForClose(fd, stop); });
    CHttpRequest client;
    HttpResponse response;
    const auto start = Clock::now();
    ASSERT_EQ(client.SendRequest(peer.Url("/vb.htm?paratest=authority").c_str(), nullptr, nullptr,
                                 0, response, "x"),
              kRequestDone);
    const double seconds = SecondsSince(start);
    EXPECT_STREQ(response.header.get(), "");
    EXPECT_STREQ(response.body.get(), "");
    EXPECT_EQ(response.bodyLength, 0);
    EXPECT_NE(response.request, nullptr);
    // One 1,000 ms receive timeout for the header, one for the body.
    EXPECT_GE(seconds, 1.9);
    EXPECT_LT(seconds, 4.0);
}

struct ResetCase {
    const char* name;
    std::string sent;
    std::string header;
    std::string body;
};

class ResetPeer : public testing::TestWithParam<ResetCase> {};

TEST_P(ResetPeer, EndsThePhaseWithWhatHasArrived)
{
    const ResetCase& c = GetParam();
    Peer peer([&](int fd, const std::atomic<bool>& stop) {
        ReadRequest(fd, stop);
        SendAll(fd, c.sent);
        // Let the client take the bytes before the reset reaches it.
        std::this_thread::sleep_for(300ms);
        Reset(fd);
    });
    CHttpRequest client;
    HttpResponse response;
    ASSERT_EQ(client.SendRequest(peer.Url("/").c_str(), nullptr, nullptr, 0, response, ""),
              kRequestDone);
    EXPECT_STREQ(response.header.get(), c.header.c_str());
    EXPECT_EQ(std::string(response.body.get(), static_cast<std::size_t>(response.bodyLength)),
              c.body);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResetPeer,
                         testing::Values(ResetCase{"InHeader", "HTTP/1.1 200 OK\r\nServ",
                                                   "HTTP/1.1 200 OK\r\nServ", ""},
                                         ResetCase{"InBody", "HTTP/1.1 200 OK\r\n\r\npart",
                                                   "HTTP/1.1 200 OK\r\n\r\n", "part"}));

// ----- Failures -----

// Requests that must fail without a connection to the listener at `port`.
struct FailureCase {
    const char* name;
    std::function<std::string(int port)> url;
    std::string token = "x";
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class FailingRequest : public testing::TestWithParam<FailureCase> {};

TEST_P(FailingRequest, ReturnsOneWithoutTouchingTheListener)
{
    const FailureCase& c = GetParam();
    Listener listener;
    const std::string url = c.url(listener.Port());
    CHttpRequest client;
    Untouched record;
    EXPECT_EQ(
        client.SendRequest(url.c_str(), nullptr, nullptr, 0, record.response, c.token.c_str()),
        kRequestFailed);
    EXPECT_TRUE(record.Holds());
    EXPECT_FALSE(listener.ConnectionWaiting(200ms));

    std::string requestText = "r", header = "h", body = "b";
    EXPECT_EQ(HttpGet(client, url.c_str(), c.token.c_str(), requestText, header, body),
              kHttpGetFailed);
    EXPECT_EQ(requestText + header + body, "rhb");
}

std::string PortText(int port)
{
    return std::to_string(port);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingRequest,
    testing::Values(
        FailureCase{"SecureScheme",
                    [](int port) { return "https://127.0.0.1:" + PortText(port) + "/vb.htm"; }},
        FailureCase{"OtherScheme",
                    [](int port) { return "ftp://127.0.0.1:" + PortText(port) + "/"; }},
        // The address is taken for the scheme.
        FailureCase{"PortWithoutScheme",
                    [](int port) { return "127.0.0.1:" + PortText(port) + "/vb.htm"; }},
        // Port numbers that 16 bits would turn into the listener's own port.
        FailureCase{"PortAbove65535",
                    [](int port) { return "http://127.0.0.1:" + PortText(port + 65536) + "/"; }},
        FailureCase{"NegativePort",
                    [](int port) { return "http://127.0.0.1:-" + PortText(65536 - port) + "/"; }},
        // A colon without digits is port 0, which nothing can be connected to.
        FailureCase{"ColonWithoutDigits", [](int) { return std::string("http://127.0.0.1:/x"); }},
        // One byte more than the request buffer holds (the URL's path alone cannot get there:
        // it is cut at 2,047 characters).
        FailureCase{"RequestOf4096Bytes", [](int port) { return LoopbackUrl(port, "/"); },
                    std::string(4096 - GetFrame("").size(), 't')}));

TEST(HttpRequest, RefusedConnectionFailsAtOnce)
{
    std::uint16_t port = 0;
    {
        Listener closed; // its port is free again once it is gone
        port = closed.Port();
    }
    CHttpRequest client;
    Untouched record;
    const auto start = Clock::now();
    EXPECT_EQ(client.SendRequest(LoopbackUrl(port, "/").c_str(), nullptr, nullptr, 0,
                                 record.response, "x"),
              kRequestFailed);
    // The refusal is seen when it arrives, not after the 4-second connection wait.
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_TRUE(record.Holds());
}

TEST(HttpRequest, UnansweredConnectionFailsAfterTheConnectionWait)
{
    // A listener with a full queue drops further connection attempts unanswered, like a
    // device that has gone away.
    Listener full(0);
    const std::vector<net::UniqueSocket> queued = test::FillBacklog(full);
    CHttpRequest client;
    Untouched record;
    const auto start = Clock::now();
    EXPECT_EQ(client.SendRequest(LoopbackUrl(full.Port(), "/").c_str(), nullptr, nullptr, 0,
                                 record.response, "x"),
              kRequestFailed);
    const double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 3.9);
    EXPECT_LT(seconds, 6.0);
    EXPECT_TRUE(record.Holds());
}

// ----- Hostile peers -----

TEST(HttpRequest, HeaderThatNeverEndsIsCutAt64KiB)
{
    std::string stream;
    while (stream.size() < 70'000)
        stream += "X-Filler: " + Pattern(stream.size(), 40) + "\r\n";
    Peer peer([&](int fd, const std::atomic<bool>& stop) {
        ReadRequest(fd, stop);
        // Then more lines of the same shape until the client hangs up (or, should it not, until
        // a few MiB have gone).
        SendAll(fd, "HTTP/1.1 200 OK\r\n");
        SendAll(fd, stream);
        for (int line = 0; line < 200'000 && !stop && SendAll(fd, "X-Filler: more\r\n"); ++line) {
        }
    });
    CHttpRequest client;
    HttpResponse response;
    ASSERT_EQ(client.SendRequest(peer.Url("/").c_str(), nullptr, nullptr, 0, response, ""),
              kRequestDone);
    const std::string header = response.header.get();
    EXPECT_EQ(header, ("HTTP/1.1 200 OK\r\n" + stream).substr(0, 65'535));
    EXPECT_EQ(response.bodyLength, 0);
}

TEST(HttpRequest, EndlessBodyIsCutAt4MiB)
{
    Peer peer([](int fd, const std::atomic<bool>& stop) {
        ReadRequest(fd, stop);
        SendAll(fd, "HTTP/1.1 200 OK\r\n\r\n");
        // As much as the client takes: it must hang up after 4 MiB. The peer gives up at 64 MiB
        // so that a client without a limit fails the test instead of exhausting the machine.
        constexpr std::size_t kBlock = 1 << 16;
        for (std::size_t sent = 0; sent < (std::size_t{64} << 20) && !stop; sent += kBlock) {
            if (!SendAll(fd, Pattern(sent, kBlock)))
                break;
        }
    });
    CHttpRequest client;
    HttpResponse response;
    ASSERT_EQ(client.SendRequest(peer.Url("/").c_str(), nullptr, nullptr, 0, response, ""),
              kRequestDone);
    ASSERT_EQ(response.bodyLength, 4 * 1024 * 1024 - 1);
    EXPECT_TRUE(std::string_view(response.body.get(), 4 * 1024 * 1024 - 1) ==
                Pattern(0, 4 * 1024 * 1024 - 1));
}

struct TrickleCase {
    const char* name;
    std::string first;     // sent at once
    bool tricklesInHeader; // the trickle lands in the header, else in the body
};

void PrintTo(const TrickleCase& c, std::ostream* os)
{
    *os << c.name;
}

class TricklingPeer : public testing::TestWithParam<TrickleCase> {};

TEST_P(TricklingPeer, IsCutOffAtThePhaseBudget)
{
    const TrickleCase& c = GetParam();
    Peer peer([&](int fd, const std::atomic<bool>& stop) {
        ReadRequest(fd, stop);
        SendAll(fd, c.first);
        // A byte four times a second, always inside the 1,000 ms receive timeout, for up to
        // 20 s: a client without a phase budget then shows by its time instead of hanging.
        for (int i = 0; i < 80 && !stop && SendAll(fd, "x"); ++i)
            std::this_thread::sleep_for(250ms);
    });
    CHttpRequest client;
    HttpResponse response;
    const auto start = Clock::now();
    ASSERT_EQ(client.SendRequest(peer.Url("/vb.htm?paratest=authority").c_str(), nullptr, nullptr,
                                 0, response, ""),
              kRequestDone);
    const double seconds = SecondsSince(start);
    // The phase stops receiving after 8 timeouts and ends within 9.
    EXPECT_GE(seconds, 7.9);
    EXPECT_LT(seconds, 10.0);
    const std::string header = response.header.get();
    const std::string body(response.body.get(), static_cast<std::size_t>(response.bodyLength));
    const std::string& trickled = c.tricklesInHeader ? header : body;
    EXPECT_EQ(trickled.find_first_not_of('x', c.tricklesInHeader ? c.first.size() : 0),
              std::string::npos);
    EXPECT_GE(trickled.size(), 20u);
    if (c.tricklesInHeader)
        EXPECT_EQ(body, "");
    else
        EXPECT_EQ(header, c.first);
}

INSTANTIATE_TEST_SUITE_P(Cases, TricklingPeer,
                         testing::Values(TrickleCase{"Header", "HTTP/1.1 200 OK\r\nX-Slow: ", true},
                                         TrickleCase{"Body", "HTTP/1.1 200 OK\r\n\r\n", false}));

// ----- HttpGet over a stand-in -----

// Answers without a network and remembers what it was asked.
class StandIn : public CHttpRequest {
public:
    std::int32_t SendRequest(const char* url, const char* extraHeaders, const char* postData,
                             std::int32_t contentLength, HttpResponse& response,
                             const char* authToken) override
    {
        seenUrl = url;
        seenToken = authToken;
        seenExtraHeaders = extraHeaders;
        seenPostData = postData;
        seenContentLength = contentLength;
        if (result != kRequestDone)
            return result;
        const auto copy = [](std::string_view bytes) {
            auto buffer = std::make_unique<char[]>(bytes.size() + 1);
            std::memcpy(buffer.get(), bytes.data(), bytes.size());
            buffer[bytes.size()] = '\0';
            return buffer;
        };
        response.request = copy("GET / HTTP/1.1\r\n\r\n");
        response.header = copy("HTTP/1.1 200 OK\r\n\0X\r\n\r\n"s);
        response.body = copy("a\0b"s);
        response.bodyLength = 3;
        return kRequestDone;
    }
    std::int32_t result = kRequestDone;
    std::string seenUrl, seenToken;
    const char* seenExtraHeaders = "unset";
    const char* seenPostData = "unset";
    std::int32_t seenContentLength = -1;
};

TEST(HttpGet, SendsAPlainGetAndCopiesTextsUpToTheirFirstNul)
{
    StandIn standIn;
    std::string requestText, header, body;
    ASSERT_EQ(
        HttpGet(standIn, "http://10.77.1.10:80/vb.htm?a=1", "dG9r", requestText, header, body),
        kHttpGetOk);
    EXPECT_EQ(standIn.seenUrl, "http://10.77.1.10:80/vb.htm?a=1");
    EXPECT_EQ(standIn.seenToken, "dG9r");
    EXPECT_EQ(standIn.seenExtraHeaders, nullptr);
    EXPECT_EQ(standIn.seenPostData, nullptr);
    EXPECT_EQ(standIn.seenContentLength, 0);
    EXPECT_EQ(requestText, "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(header, "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(body, "a");
}

TEST(HttpGet, LeavesTheStringsAloneOnFailure)
{
    StandIn standIn;
    standIn.result = kRequestFailed;
    std::string requestText = "r", header = "h", body = "b";
    EXPECT_EQ(HttpGet(standIn, "http://h/", "", requestText, header, body), kHttpGetFailed);
    EXPECT_EQ(requestText + header + body, "rhb");
}

} // namespace
