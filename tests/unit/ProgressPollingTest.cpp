// The upgrade progress poll: the value rule, the figure's reading, the request it sends, and the
// pass-by-pass behaviour against a scripted request object and once against a loopback device.
#include "upgrade/ProgressPolling.h"

#include "UpgradeFakes.h"
#include "http/Base64.h"
#include "http/HttpRequest.h"
#include "net/Socket.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();

// ----- The value rule -----

TEST(GetValueAfterKey, TakesTheTextAfterTheFirstKeyUpToBrStopCharOrEnd)
{
    const struct {
        std::string source, key;
        char stop;
        std::string value;
    } cases[] = {
        {"process=87.9<br>", "process=", '\n', "87.9"},
        {"process=87.9\nnext", "process=", '\n', "87.9"},
        {"process=87.9", "process=", '\n', "87.9"},
        {"a=1<br>process=42<br>b=2", "process=", '\n', "42"},
        // The first of "<br>" and the stop character ends it.
        {"process=4\n2<br>", "process=", '\n', "4"},
        {"process=4<br>\n", "process=", '\n', "4"},
        // Only the first occurrence counts.
        {"process=20\nprocess=100", "process=", '\n', "20"},
        {"process=<br>process=100", "process=", '\n', ""},
        // "<br>" exactly, lower case and whole.
        {"process=5<BR>6", "process=", '\n', "5<BR>6"},
        {"process=5<br6", "process=", '\n', "5<br6"},
        {"process=5<b", "process=", '\n', "5<b"},
        {"process=5\r\n", "process=", '\n', "5\r"},
        {"x;process=9;y", "process=", ';', "9"},
        // The key is matched as given.
        {"Process=9", "process=", '\n', ""},
        {"upgradeprocess=9", "process=", '\n', "9"},
        {"no key here", "process=", '\n', ""},
        {"", "process=", '\n', ""},
        {"process=9", "", '\n', ""},
        {"process=", "process=", '\n', ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source + " / " + c.key);
        EXPECT_EQ(GetValueAfterKey(c.source, c.key, c.stop), c.value);
    }
}

TEST(LeadingPercent, ReadsAFloatAndTruncatesTowardZero)
{
    const struct {
        std::string value;
        std::int32_t percent;
    } cases[] = {
        {"87.9", 87},
        {"30", 30},
        {"100", 100},
        {"100.5", 100},
        {"99.999", 99},
        {" 42", 42},
        {"\t7", 7},
        {"+5", 5},
        {"-7.9", -7},
        {"-0.5", 0},
        {"1e2", 100},
        {"5.5e1", 55},
        {".5", 0},
        {"12abc", 12},
        {"", 0},
        {"abc", 0},
        {"%50", 0},
        {"1e300", kMaxInt},
        {"-1e300", std::numeric_limits<std::int32_t>::min()},
        {"nan", 0},
        {"inf", kMaxInt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(LeadingPercent(c.value), c.percent);
    }
}

TEST(ProgressTarget, PutsTheColumnTextsAndTheUserNameInAsTheyAre)
{
    UpgradeJob job;
    job.deviceIpText = "10.77.0.20";
    job.deviceHttpPort = "8080";
    job.userName = "admin";
    EXPECT_EQ(ProgressTarget(job), "http://10.77.0.20:8080/vb.htm?setuser=admin&upgradeprocess");
    // The port column's text, not its number; the user name unescaped.
    job.deviceHttpPort = "80 ";
    job.userName = "a b&c";
    EXPECT_EQ(ProgressTarget(job), "http://10.77.0.20:80 /vb.htm?setuser=a b&c&upgradeprocess");
}

// ----- Passes against a scripted request object -----

struct Reply {
    bool delivered = true; // false: the request fails
    std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    std::string body;
};

Reply Body(std::string body)
{
    Reply reply;
    reply.body = std::move(body);
    return reply;
}

Reply Failed()
{
    Reply reply;
    reply.delivered = false;
    return reply;
}

Reply Status(std::string header, std::string body)
{
    return Reply{true, std::move(header), std::move(body)};
}

// Answers from a script (the last reply repeats) and remembers what it was asked.
class ScriptedDevice : public CHttpRequest {
public:
    explicit ScriptedDevice(std::vector<Reply> replies) : m_replies(std::move(replies)) {}
    std::int32_t SendRequest(const char* url, const char* extraHeaders, const char* postData,
                             std::int32_t, HttpResponse& response, const char* authToken) override
    {
        urls.push_back(url);
        tokens.push_back(authToken);
        EXPECT_EQ(extraHeaders, nullptr);
        EXPECT_EQ(postData, nullptr);
        const Reply& reply = m_replies[std::min(urls.size(), m_replies.size()) - 1];
        if (!reply.delivered)
            return kRequestFailed;
        const auto copy = [](const std::string& text) {
            auto buffer = std::make_unique<char[]>(text.size() + 1);
            std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
            return buffer;
        };
        response.request = copy("GET\r\n\r\n");
        response.header = copy(reply.header);
        response.body = copy(reply.body);
        response.bodyLength = static_cast<std::int32_t>(reply.body.size());
        return kRequestDone;
    }
    std::vector<std::string> urls;
    std::vector<std::string> tokens;

private:
    std::vector<Reply> m_replies;
};

UpgradeJob PollJob()
{
    UpgradeJob job;
    job.deviceIpText = "10.77.0.20";
    job.deviceHttpPort = "80";
    job.userName = "admin";
    job.password = "secret";
    return job;
}

struct PollCase {
    const char* name;
    std::vector<Reply> replies;
    std::vector<std::int32_t> shown;
    std::vector<std::string> traces; // the figures traced
    std::size_t requests;
};

void PrintTo(const PollCase& c, std::ostream* os)
{
    *os << c.name;
}

class PollPasses : public testing::TestWithParam<PollCase> {};

TEST_P(PollPasses, ShowTheFigureNeverBelow50UntilExactly100)
{
    const PollCase& c = GetParam();
    ScriptedDevice device(c.replies);
    FakeSession session;
    // A case whose script never reaches 100 must still end.
    session.stopWhen = [&](const FakeSession&) { return device.urls.size() >= 50; };
    EXPECT_EQ(PollUpgradeProgress(PollJob(), session, device), PollOutcome::Done);

    EXPECT_EQ(session.shown, c.shown);
    std::vector<std::string> traces;
    for (const std::string& figure : c.traces)
        traces.push_back("UPGRADE:" + figure + "\r\n");
    EXPECT_EQ(session.traces, traces);
    EXPECT_EQ(session.m_nProgress.load(), 100);
    // One request and one 1 s pause a pass, the last pass included.
    EXPECT_EQ(device.urls.size(), c.requests);
    EXPECT_EQ(session.sleeps, std::vector<std::int32_t>(c.requests, 1000));
    for (std::size_t i = 0; i < device.urls.size(); ++i) {
        EXPECT_EQ(device.urls[i], "http://10.77.0.20:80/vb.htm?setuser=admin&upgradeprocess");
        EXPECT_EQ(device.tokens[i], "YWRtaW46c2VjcmV0"); // "admin:secret"
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PollPasses,
    testing::Values(
        PollCase{"FirstReplyIs100", {Body("process=100<br>")}, {100}, {"100"}, 1},
        PollCase{"FractionIsTruncated",
                 {Body("process=87.9<br>"), Body("process=100\n")},
                 {87, 100},
                 {"87", "100"},
                 2},
        PollCase{"LowFigureShows50",
                 {Body("process=30<br>"), Body("process=100")},
                 {50, 100},
                 {"30", "100"},
                 2},
        PollCase{"NoKeyShows50",
                 {Body("<html>upgrading</html>"), Body("process=100")},
                 {50, 100},
                 {"0", "100"},
                 2},
        PollCase{"Above100GoesOn",
                 {Body("process=101<br>"), Body("process=250"), Body("process=100")},
                 {101, 250, 100},
                 {"101", "250", "100"},
                 3},
        PollCase{"OnlyTheFirstKeyCounts",
                 {Body("process=20<br>process=100<br>"), Body("process=100")},
                 {50, 100},
                 {"20", "100"},
                 2},
        PollCase{"100AndAFractionIs100", {Body("process=100.7<br>")}, {100}, {"100"}, 1},
        // A pass without an answer, or without "200 OK", leaves figure and bar alone.
        PollCase{"FailedRequestsAreSkipped",
                 {Body("process=60"), Failed(), Failed(), Body("process=100")},
                 {60, 100},
                 {"60", "100"},
                 4},
        PollCase{"RefusalIsSkipped",
                 {Status("HTTP/1.1 401 Unauthorized\r\n\r\n", "process=100"), Body("process=100")},
                 {100},
                 {"100"},
                 2},
        PollCase{"StatusTextAnywhereInTheHeader",
                 {Status("HTTP/1.0 200 OK\n\n", "process=100")},
                 {100},
                 {"100"},
                 1}));

TEST(PollUpgradeProgress, CredentialLongerThanTheTokenBufferIsRefusedWithoutARequest)
{
    for (const auto& [length, outcome] :
         {std::pair<std::size_t, PollOutcome>{381, PollOutcome::Done},
          {382, PollOutcome::Refused},
          {1000, PollOutcome::Refused}}) {
        SCOPED_TRACE(length);
        UpgradeJob job = PollJob();
        job.userName = std::string(length / 2, 'u');
        job.password = std::string(length - job.userName.size() - 1, 'p');
        ScriptedDevice device({Body("process=100")});
        FakeSession session;
        EXPECT_EQ(PollUpgradeProgress(job, session, device), outcome);
        if (outcome == PollOutcome::Done) {
            ASSERT_EQ(device.tokens.size(), 1u);
            EXPECT_EQ(device.tokens[0], Base64Text(job.userName + ":" + job.password));
            EXPECT_EQ(device.tokens[0].size() + 1, 509u); // within the 512-byte buffer
        } else {
            EXPECT_TRUE(device.urls.empty());
            EXPECT_TRUE(session.shown.empty());
        }
    }
}

TEST(PollUpgradeProgress, ClosingPanelEndsThePollPromptly)
{
    const struct {
        const char* name;
        std::function<bool(const FakeSession&)> stopWhen;
        PollOutcome outcome;
        std::size_t requests;
    } cases[] = {
        {"BeforeTheFirstRequest", [](const FakeSession&) { return true; }, PollOutcome::Stopped, 0},
        {"DuringAPause", [](const FakeSession& s) { return s.sleeps.size() >= 2; },
         PollOutcome::Stopped, 2},
        // The device has reported 100: the upgrade is over.
        {"DuringThePauseAfter100",
         [](const FakeSession& s) { return !s.shown.empty() && s.shown.back() == 100; },
         PollOutcome::Done, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDevice device({Body("process=60"), Failed(), Body("process=100")});
        FakeSession session;
        session.stopWhen = c.stopWhen;
        EXPECT_EQ(PollUpgradeProgress(PollJob(), session, device), c.outcome);
        EXPECT_EQ(device.urls.size(), c.requests);
    }
}

// ----- Against a loopback device -----

TEST(PollUpgradeProgress, AsksALoopbackDeviceWithBasicAuthorization)
{
    net::UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener.Get(), 4), 0);
    ASSERT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &size), 0);

    std::vector<std::string> requests;
    std::thread device([&] {
        for (const char* body : {"process=45<br>", "process=100<br>"}) {
            pollfd entry{listener.Get(), POLLIN, 0};
            if (::poll(&entry, 1, 10'000) <= 0)
                return;
            const net::UniqueSocket connection(::accept(listener.Get(), nullptr, nullptr));
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int count = net::Receive(connection.Get(), buffer, sizeof buffer);
                if (count <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(count));
            }
            requests.push_back(request);
            const std::string answer = "HTTP/1.1 200 OK\r\n\r\n"s + body;
            net::Send(connection.Get(), answer.data(), static_cast<int>(answer.size()));
        }
    });
    UpgradeJob job = PollJob();
    job.deviceIpText = "127.0.0.1";
    job.deviceHttpPort = std::to_string(ntohs(address.sin_port));
    FakeSession session;
    EXPECT_EQ(PollUpgradeProgress(job, session), PollOutcome::Done);
    device.join();

    EXPECT_EQ(session.shown, (std::vector<std::int32_t>{50, 100}));
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], requests[1]);
    EXPECT_EQ(requests[0].rfind("GET /vb.htm?setuser=admin&upgradeprocess HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[0].find("\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n"), std::string::npos);
}

} // namespace
