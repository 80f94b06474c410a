// The HTTP client's bytes without sockets: the timeout table, the request byte for byte, and the
// reading of header and body over scripted sources, including hostile ones.
#include "http/HttpWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

using std::chrono::milliseconds;

// ----- Timeout -----

struct TimeoutCase {
    const char* url;
    int timeoutMs;
};

class RequestTimeout : public testing::TestWithParam<TimeoutCase> {};

TEST_P(RequestTimeout, IsChosenByTheFirstMatchingRow)
{
    EXPECT_EQ(RequestTimeoutMs(GetParam().url), GetParam().timeoutMs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestTimeout,
    testing::Values(TimeoutCase{"http://10.0.0.1/vb.htm?sdformat=1", 60'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?sdformat=1&timefrequency=-1", 60'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?sdformat=0", 20'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?sdstatus", 20'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?timefrequency=-1", 20'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?timefrequency=1", 1'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?paratest=authority", 1'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?getserialnum=", 1'000},
                    // The markers are looked for as written.
                    TimeoutCase{"http://10.0.0.1/VB.HTM?SDFORMAT=1", 1'000},
                    TimeoutCase{"http://10.0.0.1/vb.htm?a=1&sd=1", 1'000}, TimeoutCase{"", 1'000}));

// ----- Request -----

// The request rows, written out here independently of the code under test.
const std::string kFixedLines = "Accept: */*\r\n"
                                "Accept-Language: en-us\r\n"
                                "Accept-Encoding: gzip, default\r\n"
                                "User-Agent: http client\r\n";

TEST(ComposeRequest, CredentialQueryOfAnIpCamera)
{
    RequestContent content;
    content.path = "/vb.htm?paratest=authority";
    content.host = "10.77.1.10";
    content.authToken = "YWRtaW46";
    EXPECT_EQ(ComposeRequest(content), "GET /vb.htm?paratest=authority HTTP/1.1\r\n" + kFixedLines +
                                           "Authorization: Basic YWRtaW46\r\n"
                                           "Host: 10.77.1.10\r\n"
                                           "\r\n");
}

struct ComposeCase {
    const char* name;
    RequestContent content;
    std::string expected;
};

void PrintTo(const ComposeCase& c, std::ostream* os)
{
    *os << c.name;
}

class RequestComposition : public testing::TestWithParam<ComposeCase> {};

TEST_P(RequestComposition, FollowsTheLineTable)
{
    EXPECT_EQ(ComposeRequest(GetParam().content), GetParam().expected);
}

RequestContent Content(std::string_view path, const char* token, const char* extra,
                       const char* post, std::int32_t length)
{
    RequestContent content;
    content.path = path;
    content.host = "CAMERA.LOCAL";
    content.authToken = token;
    content.extraHeaders = extra;
    content.postData = post;
    content.contentLength = length;
    return content;
}

const std::string kAuthAbc = "Authorization: Basic abc\r\n";
const std::string kHost = "Host: CAMERA.LOCAL\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestComposition,
    testing::Values(
        ComposeCase{"NoPathSendsSlash", Content("", "abc", nullptr, nullptr, 0),
                    "GET / HTTP/1.1\r\n" + kFixedLines + kAuthAbc + kHost + "\r\n"},
        ComposeCase{"EmptyTokenKeepsTheLine", Content("/x", "", nullptr, nullptr, 0),
                    "GET /x HTTP/1.1\r\n" + kFixedLines + "Authorization: Basic \r\n" + kHost +
                        "\r\n"},
        ComposeCase{"NullTokenIsEmpty", Content("/x", nullptr, nullptr, nullptr, 0),
                    "GET /x HTTP/1.1\r\n" + kFixedLines + "Authorization: Basic \r\n" + kHost +
                        "\r\n"},
        ComposeCase{"PostWithBody", Content("/vb.htm", "abc", nullptr, "a=1&b=2", 7),
                    "POST /vb.htm HTTP/1.1\r\n" + kFixedLines + kAuthAbc + "Content-Length: 7\r\n" +
                        kHost + "\r\na=1&b=2"},
        ComposeCase{"PostBodyEndsAtNul", Content("/vb.htm", "abc", nullptr, "a=1\0b=2", 7),
                    "POST /vb.htm HTTP/1.1\r\n" + kFixedLines + kAuthAbc + "Content-Length: 7\r\n" +
                        kHost + "\r\na=1"},
        ComposeCase{"PostBodyLimitedByLength", Content("/vb.htm", "abc", nullptr, "a=1&b=2", 3),
                    "POST /vb.htm HTTP/1.1\r\n" + kFixedLines + kAuthAbc + "Content-Length: 3\r\n" +
                        kHost + "\r\na=1"},
        ComposeCase{"PostWithoutLengthHasNoBody", Content("/vb.htm", "abc", nullptr, "a=1", 0),
                    "POST /vb.htm HTTP/1.1\r\n" + kFixedLines + kAuthAbc + kHost + "\r\n"},
        ComposeCase{"LengthWithoutPostIsAGet", Content("/vb.htm", "abc", nullptr, nullptr, 12),
                    "GET /vb.htm HTTP/1.1\r\n" + kFixedLines + kAuthAbc + "Content-Length: 12\r\n" +
                        kHost + "\r\n"},
        ComposeCase{"NegativeLengthSentAsIsWithoutBody",
                    Content("/vb.htm", "abc", nullptr, "a=1", -5),
                    "POST /vb.htm HTTP/1.1\r\n" + kFixedLines + kAuthAbc +
                        "Content-Length: -5\r\n" + kHost + "\r\n"},
        ComposeCase{"ExtraHeadersAfterHost",
                    Content("/vb.htm", "abc", "Content-Type: text/plain\r\nX-A: 1\r\n", "k=v", 3),
                    "POST /vb.htm HTTP/1.1\r\n" + kFixedLines + kAuthAbc + "Content-Length: 3\r\n" +
                        kHost + "Content-Type: text/plain\r\nX-A: 1\r\n\r\nk=v"},
        ComposeCase{"EmptyExtraHeadersAddNothing", Content("/x", "abc", "", nullptr, 0),
                    "GET /x HTTP/1.1\r\n" + kFixedLines + kAuthAbc + kHost + "\r\n"}));

TEST(ComposeRequest, ReadsNoPostDataPastContentLength)
{
    // No NUL anywhere: reading one byte too many would show under AddressSanitizer.
    const std::vector<char> data(5, 'z');
    const auto request = ComposeRequest(Content("/p", "t", nullptr, data.data(), 5));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->substr(request->size() - 9), "\r\n\r\nzzzzz");
}

TEST(ComposeRequest, FitsTheBufferUpTo4095Bytes)
{
    const std::string frame =
        *ComposeRequest(Content("/", "", nullptr, nullptr, 0)); // path of one byte
    const std::string fill(kRequestBufferSize - 1 - frame.size(), 'p');
    const std::string fits = "/" + fill;
    const auto longest = ComposeRequest(Content(fits, "", nullptr, nullptr, 0));
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->size(), 4095u);
    EXPECT_FALSE(ComposeRequest(Content(fits + "p", "", nullptr, nullptr, 0)));

    // Every part counts: token, extra headers and body.
    const std::string token(4096, 't');
    EXPECT_FALSE(ComposeRequest(Content("/", token.c_str(), nullptr, nullptr, 0)));
    EXPECT_FALSE(ComposeRequest(Content("/", "", token.c_str(), nullptr, 0)));
    EXPECT_FALSE(ComposeRequest(Content("/", "", nullptr, token.c_str(), 4096)));
}

// ----- Reading the answer -----

struct ReadCase {
    const char* name;
    std::string bytes;
    MemorySource::End end;
    std::string header;
    std::string body;
    HeaderEnd headerEnd;
};

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class ResponseReading : public testing::TestWithParam<ReadCase> {};

TEST_P(ResponseReading, SplitsHeaderFromBody)
{
    const ReadCase& c = GetParam();
    for (int perReceive : {1, 7, 2047, 1 << 20}) {
        MemorySource source(c.bytes, perReceive, c.end);
        const ResponseBytes response = ReadResponse(source, ReadLimits{});
        EXPECT_EQ(response.header.View(), c.header) << perReceive;
        EXPECT_EQ(response.body.View(), c.body) << perReceive;
        EXPECT_EQ(response.headerEnd, c.headerEnd) << perReceive;
        EXPECT_EQ(response.bodyEnd, BodyEnd::Silence) << perReceive;
    }
}

using End = MemorySource::End;

INSTANTIATE_TEST_SUITE_P(
    Cases, ResponseReading,
    testing::Values(
        ReadCase{"CrLf", "HTTP/1.1 200 OK\r\nServer: cam\r\n\r\nbody", End::Close,
                 "HTTP/1.1 200 OK\r\nServer: cam\r\n\r\n", "body", HeaderEnd::EmptyLine},
        ReadCase{"LfOnly", "HTTP/1.0 200 OK\nServer: cam\n\nbody\n\nmore", End::Close,
                 "HTTP/1.0 200 OK\nServer: cam\n\n", "body\n\nmore", HeaderEnd::EmptyLine},
        ReadCase{"RefusalStatus",
                 "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\nno",
                 End::Close,
                 "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n", "no",
                 HeaderEnd::EmptyLine},
        // A line of CRs only counts as empty; a lone CR inside a line does not end it.
        ReadCase{"CrOnlyLine", "A\r\n\r\r\nbody", End::Close, "A\r\n\r\r\n", "body",
                 HeaderEnd::EmptyLine},
        ReadCase{"CrInsideLine", "A\rB\r\n\r\nbody", End::Close, "A\rB\r\n\r\n", "body",
                 HeaderEnd::EmptyLine},
        ReadCase{"EmptyFirstLine", "\nrest", End::Close, "\n", "rest", HeaderEnd::EmptyLine},
        ReadCase{"CrLfFirstLine", "\r\nrest", End::Close, "\r\n", "rest", HeaderEnd::EmptyLine},
        ReadCase{"ContentLengthIgnored", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabcdef",
                 End::Close, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "abcdef",
                 HeaderEnd::EmptyLine},
        ReadCase{"NulBytesCount", "H\r\n\r\na\0b\0"s, End::Close, "H\r\n\r\n", "a\0b\0"s,
                 HeaderEnd::EmptyLine},
        ReadCase{"NulInHeaderLineIsACharacter", "A\0\n\nB"s, End::Close, "A\0\n\n"s, "B",
                 HeaderEnd::EmptyLine},
        ReadCase{"ClosedInHeader", "HTTP/1.1 200 OK\r\nServ", End::Close, "HTTP/1.1 200 OK\r\nServ",
                 "", HeaderEnd::Silence},
        ReadCase{"ResetInHeader", "HTTP/1.1 200 OK\r\nServ", End::Error, "HTTP/1.1 200 OK\r\nServ",
                 "", HeaderEnd::Silence},
        ReadCase{"ResetInBody", "H\r\n\r\npartial", End::Error, "H\r\n\r\n", "partial",
                 HeaderEnd::EmptyLine},
        ReadCase{"Nothing", "", End::Close, "", "", HeaderEnd::Silence},
        ReadCase{"NothingThenReset", "", End::Error, "", "", HeaderEnd::Silence}));

TEST(ResponseReading, HeaderTakesNothingAfterTheEmptyLine)
{
    MemorySource source("HTTP/1.1 200 OK\r\n\r\nbody");
    ReceiveBuffer header(kMaxHeaderBufferSize);
    EXPECT_EQ(ReadHeader(source, header, milliseconds(8000)), HeaderEnd::EmptyLine);
    EXPECT_EQ(source.Consumed(), header.Size());
}

TEST(ResponseReading, EveryPrefixOfAResponseSplitsAtTheSamePlace)
{
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";
    const std::string whole = header + "body\r\n\r\nstill body";
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        MemorySource source(whole.substr(0, n), 3);
        const ResponseBytes response = ReadResponse(source, ReadLimits{});
        EXPECT_EQ(response.header.View(), whole.substr(0, std::min(n, header.size()))) << n;
        EXPECT_EQ(response.body.View(),
                  n > header.size() ? whole.substr(header.size(), n - header.size()) : "")
            << n;
    }
}

// A pattern peers send forever; position i holds the same byte in every run.
std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

TEST(ResponseReading, HeaderThatNeverEndsStopsAtItsBufferAndSkipsTheBody)
{
    std::string lines;
    while (lines.size() < 100'000)
        lines += "X-Filler: " + Pattern(40) + "\r\n";
    MemorySource source(lines);
    const ResponseBytes response = ReadResponse(source, ReadLimits{});
    EXPECT_EQ(response.headerEnd, HeaderEnd::Full);
    EXPECT_EQ(response.header.View(), lines.substr(0, kMaxHeaderBufferSize - 1));
    EXPECT_EQ(response.header.Capacity(), kMaxHeaderBufferSize);
    EXPECT_EQ(response.body.Size(), 0u);
    EXPECT_EQ(source.Consumed(), kMaxHeaderBufferSize - 1);
}

TEST(ResponseReading, EndlessBodyStopsAtItsBufferWithoutLosingReceivedBytes)
{
    const std::string header = "HTTP/1.1 200 OK\r\n\r\n";
    const std::string body = Pattern(kMaxBodyBufferSize + 100'000);
    for (int perReceive : {kBodyChunkSize, 1000}) {
        MemorySource source(header + body, perReceive);
        const ResponseBytes response = ReadResponse(source, ReadLimits{});
        EXPECT_EQ(response.bodyEnd, BodyEnd::Full);
        ASSERT_EQ(response.body.Size(), kMaxBodyBufferSize - 1);
        EXPECT_EQ(response.body.View(), std::string_view(body).substr(0, kMaxBodyBufferSize - 1));
        EXPECT_EQ(response.body.Capacity(), kMaxBodyBufferSize);
        // Nothing was received beyond what the buffer keeps.
        EXPECT_EQ(source.Consumed(), header.size() + kMaxBodyBufferSize - 1);
    }
}

// A peer that sends one byte per receive, each after `step` of scripted time, forever (or, with
// a header first, that header at once).
class TrickleSource : public ByteSource {
public:
    TrickleSource(std::string first, milliseconds step) : m_first(std::move(first)), m_step(step) {}
    int Receive(char* buffer, int) override
    {
        if (m_sent < m_first.size()) {
            *buffer = m_first[m_sent++];
            return 1;
        }
        m_now += m_step;
        ++m_trickled;
        *buffer = 'x';
        return 1;
    }
    std::chrono::steady_clock::time_point Now() override { return m_now; }
    int Trickled() const { return m_trickled; }

private:
    std::string m_first;
    std::size_t m_sent = 0;
    milliseconds m_step;
    std::chrono::steady_clock::time_point m_now{};
    int m_trickled = 0;
};

TEST(ResponseReading, TricklingHeaderEndsAtThePhaseBudget)
{
    TrickleSource source("HTTP/1.1 200 OK\r\n", milliseconds(999));
    const ResponseBytes response = ReadResponse(source, ReadLimitsForTimeout(1000));
    EXPECT_EQ(response.headerEnd, HeaderEnd::Deadline);
    // Receives start at 0, 0.999, ... 7.992 s: nine of them, the last ending within 9 s.
    EXPECT_EQ(source.Trickled(), 9);
    EXPECT_EQ(response.header.View(), "HTTP/1.1 200 OK\r\nxxxxxxxxx");
    EXPECT_EQ(response.body.Size(), 0u);
}

TEST(ResponseReading, TricklingBodyEndsAtThePhaseBudget)
{
    TrickleSource source("HTTP/1.1 200 OK\r\n\r\n", milliseconds(250));
    const ResponseBytes response = ReadResponse(source, ReadLimitsForTimeout(1000));
    EXPECT_EQ(response.headerEnd, HeaderEnd::EmptyLine);
    EXPECT_EQ(response.bodyEnd, BodyEnd::Deadline);
    EXPECT_EQ(response.body.View(), std::string(32, 'x'));
}

TEST(ResponseReading, BudgetScalesWithTheTimeout)
{
    EXPECT_EQ(ReadLimitsForTimeout(1'000).phaseBudget, milliseconds(8'000));
    EXPECT_EQ(ReadLimitsForTimeout(60'000).phaseBudget, milliseconds(480'000));
}

struct GrowthCase {
    std::size_t maxSize;
    std::vector<std::size_t> appends;
    std::size_t size;
    std::size_t capacity;
};

class ReceiveBufferGrowth : public testing::TestWithParam<GrowthCase> {};

TEST_P(ReceiveBufferGrowth, DoublesKeepingRoomForTheNul)
{
    const GrowthCase& c = GetParam();
    ReceiveBuffer buffer(c.maxSize);
    for (std::size_t count : c.appends)
        buffer.Append(Pattern(count).data(), count);
    EXPECT_EQ(buffer.Size(), c.size);
    EXPECT_EQ(buffer.Capacity(), c.capacity);
    const std::size_t size = buffer.Size();
    const auto text = buffer.Release();
    EXPECT_EQ(text[size], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceiveBufferGrowth,
    testing::Values(GrowthCase{1 << 20, {}, 0, 0}, GrowthCase{1 << 20, {1}, 1, 1024},
                    GrowthCase{1 << 20, {1023}, 1023, 1024},
                    GrowthCase{1 << 20, {1023, 1}, 1024, 2048},
                    GrowthCase{1 << 20, {2047, 2047}, 4094, 4096},
                    GrowthCase{1 << 20, {5000}, 5000, 8192},
                    // The largest size is kept, and only maxSize - 1 bytes are taken.
                    GrowthCase{4096, {5000}, 4095, 4096}, GrowthCase{4096, {4095, 1}, 4095, 4096},
                    GrowthCase{3000, {2500}, 2500, 3000}, GrowthCase{100, {50, 60}, 99, 100}));

} // namespace
