// The package upload against fake devices on 127.0.0.1: the bytes a device receives, every way
// the exchange can fail, the reboot watch driven by scripted probe answers, the progress poll
// that follows the other routine, and a panel that closes in the middle.
#include "upgrade/PackageUpload.h"

#include "UpgradeFakes.h"
#include "http/Base64.h"
#include "net/Socket.h"

#include "LoopbackListener.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// Short enough that a failing case costs little, long enough for any loopback exchange.
constexpr TcpTimeouts kTestTimeouts{2'000, 2'000, 2'000};

// ----- Packages -----

// Package contents; byte i is the same in every run and no run of 1280 bytes repeats another.
std::string PackageBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 251) % 256);
    return bytes;
}

// A package file in the temporary folder, removed with the object.
class TempPackage {
public:
    explicit TempPackage(const std::string& bytes)
    {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 ("tessarin-package-" + std::to_string(::getpid()) + "-" +
                  std::to_string(counter++) + ".package");
        std::ofstream(m_path, std::ios::binary) << bytes;
    }
    ~TempPackage()
    {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    TempPackage(const TempPackage&) = delete;
    TempPackage& operator=(const TempPackage&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// ----- Loopback devices -----

using test::Listener;
using test::Readable;
using test::SendAll;

// A port nothing listens on: a listener's, once it is gone.
std::uint16_t ClosedPort()
{
    const Listener gone;
    return gone.Port();
}

// How a fake device behaves on the upgrade connection.
struct DeviceScript {
    enum class Acknowledgement { Send, Silent, Close };
    Acknowledgement acknowledgement = Acknowledgement::Send;
    // The poll routine's 4-byte size field comes before the package.
    bool sizeField = false;
    // After the acknowledgement the device reads nothing more, as if it had hung.
    bool stopReading = false;
    // The final answer, sent in these parts 300 ms apart; none: the device closes its side.
    std::vector<std::string> finalAnswer;
    // The answers to the progress requests that follow on new connections, in order; the last
    // one repeats.
    std::vector<std::string> pages;
    int receiveBuffer = 0;
};

// Plays one device: the first connection is the upgrade, every later one a progress request.
// What it received is read after Finish.
class FakeDevice {
public:
    explicit FakeDevice(DeviceScript script)
        : m_listener(8, script.receiveBuffer), m_script(std::move(script)),
          m_thread([this] { Run(); })
    {}
    ~FakeDevice() { Finish(); }
    std::uint16_t Port() const { return m_listener.Port(); }
    void Finish()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // Everything up to and including the command's END line.
    std::string command;
    // Everything after the acknowledgement until the device answered.
    std::string afterAcknowledgement;
    // The progress requests, each up to its empty line.
    std::vector<std::string> requests;
    int connections = 0;

private:
    void Run()
    {
        while (Readable(m_listener.Fd(), 10s, m_stop)) {
            net::UniqueSocket connection(::accept(m_listener.Fd(), nullptr, nullptr));
            if (!connection)
                continue;
            if (connections++ == 0) {
                ServeUpgrade(connection.Get());
                // Kept open: the routine closes the upgrade connection when it returns.
                m_upgrade = std::move(connection);
            } else {
                ServePage(connection.Get());
            }
        }
    }

    void ServeUpgrade(int fd)
    {
        char buffer[65536];
        while (command.find("END\n") == std::string::npos && Readable(fd, 5s, m_stop)) {
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0)
                return;
            command.append(buffer, static_cast<std::size_t>(count));
        }
        switch (m_script.acknowledgement) {
        case DeviceScript::Acknowledgement::Silent:
            while (Readable(fd, 10s, m_stop) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
            }
            return;
        case DeviceScript::Acknowledgement::Close:
            ::shutdown(fd, SHUT_RDWR);
            return;
        case DeviceScript::Acknowledgement::Send:
            SendAll(fd, "OK\r\n");
            break;
        }
        if (m_script.stopReading) {
            while (!m_stop)
                std::this_thread::sleep_for(20ms);
            return;
        }
        // The device's own reading of the announced size, independent of the tool's writer.
        const std::size_t open = command.find('@');
        const std::size_t expected =
            (m_script.sizeField ? 4 : 0) +
            std::stoull(command.substr(open + 1, command.find('@', open + 1)));
        // Until the whole package is in, or the sender has gone quiet (a panel that stopped).
        while (afterAcknowledgement.size() < expected && Readable(fd, 300ms, m_stop)) {
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            afterAcknowledgement.append(buffer, static_cast<std::size_t>(count));
        }
        for (std::size_t i = 0; i < m_script.finalAnswer.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(300ms);
            SendAll(fd, m_script.finalAnswer[i]);
        }
        if (m_script.finalAnswer.empty())
            ::shutdown(fd, SHUT_WR);
    }

    void ServePage(int fd)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && Readable(fd, 5s, m_stop)) {
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(count));
        }
        const std::size_t index = std::min(requests.size(), m_script.pages.size() - 1);
        requests.push_back(request);
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + m_script.pages[index]);
    }

    Listener m_listener;
    DeviceScript m_script;
    net::UniqueSocket m_upgrade;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

DeviceScript Answering(std::string finalAnswer)
{
    DeviceScript script;
    script.finalAnswer = {std::move(finalAnswer)};
    return script;
}

UpgradeJob JobFor(const std::filesystem::path& package, std::uint16_t port, std::string type = "0")
{
    UpgradeJob job;
    job.packagePath = package;
    job.deviceIpText = "127.0.0.1";
    job.deviceHttpPort = std::to_string(port);
    job.deviceType = std::move(type);
    job.userName = "admin";
    job.password = "secret";
    return job;
}

using Routine = std::int32_t (*)(const UpgradeJob&, UpgradeSession&, const TcpTimeouts&);

struct NamedRoutine {
    const char* name;
    Routine routine;
};

const NamedRoutine kBothRoutines[] = {{"UploadAndWatch", &UploadAndWatch},
                                      {"UploadAndPoll", &UploadAndPoll}};

std::vector<std::int32_t> Concat(std::vector<std::int32_t> first,
                                 const std::vector<std::int32_t>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// ----- Pure pieces -----

TEST(UpgradeCommand, AnnouncesTheLow32BitsOfTheSize)
{
    const struct {
        std::uint64_t size;
        const char* text;
    } cases[] = {
        {1, "CMD:UPGRADE MCTP/1.0 CS\n@1@\nEND\n"},
        {3940, "CMD:UPGRADE MCTP/1.0 CS\n@3940@\nEND\n"},
        {0xFFFF'FFFFull, "CMD:UPGRADE MCTP/1.0 CS\n@4294967295@\nEND\n"},
        {0x1'0000'0000ull, "CMD:UPGRADE MCTP/1.0 CS\n@0@\nEND\n"},
        {0x1'0000'0500ull, "CMD:UPGRADE MCTP/1.0 CS\n@1280@\nEND\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(UpgradeCommand(c.size), c.text);
    }
}

TEST(PackageSizeField, IsLittleEndianLow32Bits)
{
    const struct {
        std::uint64_t size;
        std::array<std::uint8_t, 4> bytes;
    } cases[] = {
        {3940, {0x64, 0x0F, 0x00, 0x00}},
        {0x1234'5678, {0x78, 0x56, 0x34, 0x12}},
        {0xFFFF'FFFFull, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0x5'0000'0102ull, {0x02, 0x01, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(PackageSizeField(c.size), c.bytes);
    }
}

TEST(TransferPercent, HalvesTheFloorOfThePercentageInSixtyFourBits)
{
    constexpr std::uint64_t kGiB = 1ull << 30;
    const struct {
        std::uint64_t sent, size;
        std::int32_t percent;
    } cases[] = {
        {0, 3940, 0},
        {1280, 3940, 16}, // 32.4 % -> 32 -> 16
        {3840, 3940, 48}, // 97.4 % -> 97 -> 48
        {3940, 3940, 50},
        {1, 3, 16},     // 33 -> 16, not 16.6 rounded
        {199, 200, 49}, // 99 -> 49
        {4 * kGiB, 5 * kGiB, 40},
        {5 * kGiB, 5 * kGiB, 50},
        {1280, 64 * kGiB, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sent) + " of " + std::to_string(c.size));
        EXPECT_EQ(TransferPercent(c.sent, c.size), c.percent);
    }
}

TEST(ResultCodeFromAnswer, ReadsTheDigitsAfterTheFirstAtWhenASecondFollows)
{
    const std::optional<std::int32_t> none;
    const struct {
        std::string answer;
        std::optional<std::int32_t> code;
    } cases[] = {
        {"@0@", 0},
        {"@7@", 7},
        {"RESULT\n@7@\nEND\n", 7},
        {"@007@", 7},
        {"@12ab@", 12},
        {"@@", 0},
        {"@x7@", 0},
        {"@-3@", 0},
        {"@ 7@", 0},
        {"@7@@9@", 7},
        {"@7@9@", 7},
        {"@99999999999@", std::numeric_limits<std::int32_t>::max()},
        {"@2147483647@", std::numeric_limits<std::int32_t>::max()},
        {"@7", none},
        {"7@", none},
        {"no answer", none},
        {"", none},
        // Text ends at a NUL byte.
        {"\0@7@"s, none},
        {"@7\0@"s, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(ResultCodeFromAnswer(c.answer), c.code);
    }
}

// ----- Failures before the connection -----

TEST(PackageUpload, UnreadableOrEmptyPackageFailsBeforeAnyConnection)
{
    const TempPackage empty("");
    const struct {
        const char* name;
        std::filesystem::path path;
        std::int32_t result;
    } cases[] = {
        {"missing", std::filesystem::temp_directory_path() / "tessarin-no-such-package.bin",
         kUploadFileUnreadable},
        {"folder", std::filesystem::temp_directory_path(), kUploadFileUnreadable},
        {"empty", empty.Path(), kUploadFileEmpty},
    };
    for (const auto& routine : kBothRoutines) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(routine.name) + " " + c.name);
            const Listener device;
            FakeSession session;
            EXPECT_EQ(routine.routine(JobFor(c.path, device.Port()), session, kTestTimeouts),
                      c.result);
            EXPECT_FALSE(device.ConnectionWaiting(100ms));
            EXPECT_TRUE(session.shown.empty());
        }
    }
}

TEST(PackageUpload, PortOutsideTheSixteenBitRangeDoesNotResolve)
{
    const TempPackage package(PackageBytes(10));
    for (const auto& routine : kBothRoutines) {
        for (const std::string port : {"65536", "70000", "-1", "-80"}) {
            SCOPED_TRACE(std::string(routine.name) + " port " + port);
            UpgradeJob job = JobFor(package.Path(), 0);
            job.deviceHttpPort = port;
            FakeSession session;
            EXPECT_EQ(routine.routine(job, session, kTestTimeouts), kUploadUnresolved);
        }
    }
}

TEST(PackageUpload, RefusedConnectionFailsWith203)
{
    const TempPackage package(PackageBytes(10));
    for (const auto& routine : kBothRoutines) {
        // A closed port, and a port text without digits, which is port 0.
        for (const std::string& port : {std::to_string(ClosedPort()), "http"s, ""s}) {
            SCOPED_TRACE(std::string(routine.name) + " port '" + port + "'");
            UpgradeJob job = JobFor(package.Path(), 0);
            job.deviceHttpPort = port;
            FakeSession session;
            // The default 20 s wait: a refusal must end it when it arrives.
            const auto start = Clock::now();
            EXPECT_EQ(routine.routine(job, session, {}), kUploadNotConnected);
            EXPECT_LT(Clock::now() - start, 5s);
        }
    }
}

TEST(PackageUpload, UnansweredConnectionFailsWith203AfterTheConnectWait)
{
    // A listener with a full queue drops further connection attempts unanswered, like a device
    // that has gone away.
    Listener full(0);
    const std::vector<net::UniqueSocket> queued = test::FillBacklog(full);
    const TempPackage package(PackageBytes(10));
    FakeSession session;
    TcpTimeouts timeouts = kTestTimeouts;
    timeouts.connectMs = 300;
    const auto start = Clock::now();
    EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), full.Port()), session, timeouts),
              kUploadNotConnected);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 250ms);
    EXPECT_LT(waited, 10s);
}

TEST(PackageUpload, PortColumnIsReadByItsLeadingNumber)
{
    const TempPackage package(PackageBytes(100));
    for (const std::string format : {"%", "%abc", " %", "+%", "%.5"}) {
        SCOPED_TRACE(format);
        FakeDevice device(Answering("@7@"));
        UpgradeJob job = JobFor(package.Path(), device.Port());
        job.deviceHttpPort = format;
        job.deviceHttpPort.replace(format.find('%'), 1, std::to_string(device.Port()));
        FakeSession session;
        EXPECT_EQ(UploadAndWatch(job, session, kTestTimeouts), 7);
        device.Finish();
        EXPECT_EQ(device.connections, 1);
    }
}

// ----- The exchange -----

TEST(PackageUpload, NoAcknowledgementFailsWith204)
{
    const TempPackage package(PackageBytes(3000));
    for (const auto& routine : kBothRoutines) {
        for (const auto acknowledgement :
             {DeviceScript::Acknowledgement::Silent, DeviceScript::Acknowledgement::Close}) {
            SCOPED_TRACE(
                std::string(routine.name) +
                (acknowledgement == DeviceScript::Acknowledgement::Silent ? " silent" : " closed"));
            DeviceScript script = Answering("@0@");
            script.acknowledgement = acknowledgement;
            FakeDevice device(script);
            TcpTimeouts timeouts = kTestTimeouts;
            timeouts.receiveMs = 300;
            FakeSession session;
            EXPECT_EQ(routine.routine(JobFor(package.Path(), device.Port()), session, timeouts),
                      kUploadNoAcknowledgement);
            device.Finish();
            EXPECT_EQ(device.command, "CMD:UPGRADE MCTP/1.0 CS\n@3000@\nEND\n");
            EXPECT_EQ(device.afterAcknowledgement, "");
            EXPECT_TRUE(session.shown.empty());
        }
    }
}

TEST(UploadAndWatch, SendsTheCommandThenThePackageIn1280BytePieces)
{
    // 3 whole pieces and a short one; then a size that is a whole number of pieces.
    const struct {
        std::size_t size;
        std::vector<std::int32_t> transfer;
    } cases[] = {
        {3940, {16, 32, 48, 50}},
        {2560, {25, 50}},
        {1, {50}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string bytes = PackageBytes(c.size);
        const TempPackage package(bytes);
        FakeDevice device(Answering("@9@"));
        FakeSession session;
        EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), device.Port()), session, kTestTimeouts), 9);
        device.Finish();
        EXPECT_EQ(device.command,
                  "CMD:UPGRADE MCTP/1.0 CS\n@" + std::to_string(c.size) + "@\nEND\n");
        // No size field for these devices: the package follows the acknowledgement directly.
        EXPECT_TRUE(device.afterAcknowledgement == bytes);
        EXPECT_EQ(session.shown, c.transfer);
        EXPECT_EQ(session.m_nProgress.load(), 100);
    }
}

TEST(UploadAndWatch, FinalAnswerDecidesBetweenDeviceCodeAndFailure)
{
    const TempPackage package(PackageBytes(1280));
    const struct {
        const char* name;
        std::vector<std::string> answer;
        std::int32_t result;
        std::int32_t storedProgress;
    } cases[] = {
        {"DeviceCode", {"UPGRADE FAILED\n@7@\n"}, 7, 100},
        {"SingleAt", {"@7"}, kUploadNoResult, 50},
        {"NoAt", {"OK\n"}, kUploadNoResult, 50},
        {"ClosedWithoutAnswer", {}, kUploadNoResult, 50},
        // One read only: the rest of the frame comes too late.
        {"Trickled", {"@", "7@"}, kUploadNoResult, 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceScript script;
        script.finalAnswer = c.answer;
        FakeDevice device(script);
        FakeSession session;
        session.icmpAnswer = true;
        EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), device.Port()), session, kTestTimeouts),
                  c.result);
        // The bar keeps the transfer's end; a failure never starts the watch.
        EXPECT_EQ(session.shown, std::vector<std::int32_t>{50});
        EXPECT_EQ(session.m_nProgress.load(), c.storedProgress);
        EXPECT_TRUE(session.pings.empty());
        EXPECT_TRUE(session.sleeps.empty());
    }
}

TEST(UploadAndWatch, AFailingSendEndsWith205)
{
    // The device acknowledges, then reads nothing more: once the buffers are full a send runs
    // into its time-out.
    DeviceScript script = Answering("@0@");
    script.stopReading = true;
    script.receiveBuffer = 4096;
    FakeDevice device(script);
    const TempPackage package(PackageBytes(16 << 20));
    TcpTimeouts timeouts = kTestTimeouts;
    timeouts.sendMs = 300;
    FakeSession session;
    EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), device.Port()), session, timeouts),
              kUploadPieceNotSent);
    ASSERT_FALSE(session.shown.empty());
    EXPECT_LT(session.shown.back(), 50);
    EXPECT_TRUE(session.pings.empty());
}

// ----- The reboot watch -----

struct WatchCase {
    const char* name;
    std::string type;
    bool icmpAnswer;
    std::deque<bool> rawAnswers;
    std::vector<std::int32_t> watch; // what the watch shows before its 100
};

void PrintTo(const WatchCase& c, std::ostream* os)
{
    *os << c.name;
}

std::deque<bool> Repeat(bool answer, int times, bool last)
{
    std::deque<bool> answers(static_cast<std::size_t>(times), answer);
    answers.push_back(last);
    return answers;
}

std::vector<std::int32_t> Steps(std::int32_t from, std::int32_t step, int count)
{
    std::vector<std::int32_t> steps;
    for (std::int32_t p = from; static_cast<int>(steps.size()) < count; p = std::min(p + step, 98))
        steps.push_back(p);
    return steps;
}

class RebootWatch : public testing::TestWithParam<WatchCase> {};

TEST_P(RebootWatch, StepsTheBarUntilTheDeviceChangesState)
{
    const WatchCase& c = GetParam();
    const TempPackage package(PackageBytes(1280));
    FakeDevice device(Answering("UPGRADE OK\n@0@\n"));
    FakeSession session;
    session.icmpAnswer = c.icmpAnswer;
    session.rawAnswers = c.rawAnswers;
    // A script that runs out would otherwise keep the watch going forever.
    session.stopWhen = [](const FakeSession& s) { return s.pings.size() > 100; };
    EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), device.Port(), c.type), session, kTestTimeouts),
              kUploadOk);

    EXPECT_EQ(session.shown, Concat(Concat({50}, c.watch), {100}));
    EXPECT_EQ(session.m_nProgress.load(), 100);
    std::vector<std::string> pings{"icmp 127.0.0.1"};
    pings.insert(pings.end(), c.watch.size(), "raw 127.0.0.1");
    EXPECT_EQ(session.pings, pings);
    std::vector<std::int32_t> sleeps{5000};
    sleeps.insert(sleeps.end(), c.watch.size() + 1, 1000);
    EXPECT_EQ(session.sleeps, sleeps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RebootWatch,
    testing::Values(
        // Types 0 to 99 are still up after their answer and the watch waits for them to go down.
        WatchCase{"Type5GoesDown", "5", true, {true, true, false}, {52, 54, 56}},
        WatchCase{"Type99GoesDown", "99", true, {false}, {52}},
        WatchCase{"TypeWithoutDigitsCountsAs0", "IPCam", true, {false}, {52}},
        WatchCase{"Type5AlreadyDownAtFirstProbe", "5", false, {}, {}},
        WatchCase{"StepsOf2StopAt98", "0", true, Repeat(true, 30, false), Steps(52, 2, 31)},
        // Other types are down at first and the watch waits for them to answer again.
        WatchCase{"Type300ComesBack", "300", false, {false, false, true}, {53, 56, 59}},
        WatchCase{"Type100ComesBack", "100", false, {true}, {53}},
        WatchCase{"NegativeTypeComesBack", "-1", false, {true}, {53}},
        WatchCase{"Type300AlreadyUpAtFirstProbe", "300", true, {}, {}},
        WatchCase{"StepsOf3StopAt98", "301", false, Repeat(false, 20, true), Steps(53, 3, 21)}));

TEST(RebootWatch, StepSequencesAreTheDocumentedOnes)
{
    // The generator above, checked once against the written-out sequences.
    EXPECT_EQ(Steps(52, 2, 26), Concat({52, 54, 56, 58, 60, 62, 64, 66, 68, 70, 72, 74, 76, 78},
                                       {80, 82, 84, 86, 88, 90, 92, 94, 96, 98, 98, 98}));
    EXPECT_EQ(Steps(53, 3, 18),
              Concat({53, 56, 59, 62, 65, 68, 71, 74, 77}, {80, 83, 86, 89, 92, 95, 98, 98, 98}));
}

// ----- A panel that closes -----

TEST(PackageUpload, ClosingPanelEndsTheTransferAndTheRoutineReadsTheFinalAnswer)
{
    const std::string bytes = PackageBytes(10 * 1280);
    const TempPackage package(bytes);
    for (const auto& [answer, result] : {std::pair<std::string, std::int32_t>{"@7@", 7},
                                         {"@0@", kUploadStopped},
                                         {"nothing", kUploadNoResult}}) {
        SCOPED_TRACE(answer);
        FakeDevice device(Answering(answer));
        FakeSession session;
        session.icmpAnswer = true;
        session.stopWhen = [](const FakeSession& s) { return s.shown.size() >= 2; };
        EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), device.Port()), session, kTestTimeouts),
                  result);
        device.Finish();
        EXPECT_TRUE(device.afterAcknowledgement == bytes.substr(0, 2 * 1280));
        EXPECT_EQ(session.shown, (std::vector<std::int32_t>{5, 10}));
        // A device that says 0 gets no watch: the closing panel ends it before the first probe.
        EXPECT_TRUE(session.pings.empty());
    }
}

TEST(PackageUpload, PanelClosedBeforeTheFirstPieceSendsNoPackage)
{
    const TempPackage package(PackageBytes(3000));
    FakeDevice device(Answering("@0@"));
    FakeSession session;
    session.stopWhen = [](const FakeSession&) { return true; };
    EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), device.Port()), session, kTestTimeouts),
              kUploadStopped);
    device.Finish();
    EXPECT_EQ(device.command, "CMD:UPGRADE MCTP/1.0 CS\n@3000@\nEND\n");
    EXPECT_EQ(device.afterAcknowledgement, "");
    EXPECT_TRUE(session.shown.empty());
}

TEST(PackageUpload, ClosingPanelCutsTheWaitsForASilentDevice)
{
    // With the devices' 20 s time-outs: each wait below would end in its failure code after them
    // if the closing panel did not cut it short.
    const TempPackage package(PackageBytes(3000));
    const auto stopAlways = [](const FakeSession&) { return true; };
    const auto stopAfterAPiece = [](const FakeSession& s) { return !s.shown.empty(); };
    {
        SCOPED_TRACE("connection never established");
        Listener full(0);
        const std::vector<net::UniqueSocket> queued = test::FillBacklog(full);
        FakeSession session;
        session.stopWhen = stopAlways;
        EXPECT_EQ(UploadAndWatch(JobFor(package.Path(), full.Port()), session, {}),
                  kUploadStopped);
    }
    for (const auto& routine : kBothRoutines) {
        SCOPED_TRACE(std::string(routine.name) + ": acknowledgement never sent");
        DeviceScript script = Answering("@0@");
        script.acknowledgement = DeviceScript::Acknowledgement::Silent;
        FakeDevice device(script);
        FakeSession session;
        session.stopWhen = stopAlways;
        EXPECT_EQ(routine.routine(JobFor(package.Path(), device.Port()), session, {}),
                  kUploadStopped);
    }
    for (const auto& routine : kBothRoutines) {
        SCOPED_TRACE(std::string(routine.name) + ": final answer never sent");
        DeviceScript script = Answering("");
        script.sizeField = routine.routine == &UploadAndPoll;
        FakeDevice device(script);
        FakeSession session;
        session.stopWhen = stopAfterAPiece;
        EXPECT_EQ(routine.routine(JobFor(package.Path(), device.Port()), session, {}),
                  kUploadStopped);
        device.Finish();
        EXPECT_EQ(session.shown.size(), 1u);
    }
}

TEST(UploadAndWatch, ClosingPanelEndsTheWatchWithoutAFailure)
{
    const TempPackage package(PackageBytes(1280));
    const struct {
        const char* name;
        std::string type;
        bool rawAnswer;
        std::function<bool(const FakeSession&)> stopWhen;
        std::vector<std::int32_t> shown;
        std::int32_t result;
    } cases[] = {
        {"DuringTheFirstPause",
         "5",
         true,
         [](const FakeSession& s) { return !s.sleeps.empty(); },
         {50},
         kUploadStopped},
        {"AfterThreeSteps",
         "5",
         true,
         [](const FakeSession& s) { return s.sleeps.size() >= 4; },
         {50, 52, 54, 56},
         kUploadStopped},
        // Raw probes that cannot work (no rights) keep this watch going until the panel closes.
        {"NeverComesBack", "300", false, [](const FakeSession& s) { return s.sleeps.size() >= 20; },
         Concat({50}, Steps(53, 3, 19)), kUploadStopped},
        // The device has come back: the upgrade is done whatever happens to the panel now.
        {"DuringTheLastPause",
         "300",
         true,
         [](const FakeSession& s) { return !s.shown.empty() && s.shown.back() == 100; },
         {50, 53, 100},
         kUploadOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevice device(Answering("@0@"));
        FakeSession session;
        session.icmpAnswer = c.type == "5";
        session.rawAnswerOnceScriptEnds = c.rawAnswer;
        session.stopWhen = c.stopWhen;
        EXPECT_EQ(
            UploadAndWatch(JobFor(package.Path(), device.Port(), c.type), session, kTestTimeouts),
            c.result);
        EXPECT_EQ(session.shown, c.shown);
        EXPECT_FALSE(IsUploadFailure(c.result));
    }
}

// ----- Upload and poll -----

TEST(UploadAndPoll, SendsTheSizeFieldIgnoresTheAnswerAndPollsToTheEnd)
{
    const std::string bytes = PackageBytes(3940);
    const TempPackage package(bytes);
    // A device that reports a failure code, and one that says nothing: both are polled.
    for (const auto& answer : {std::vector<std::string>{"@7@"}, std::vector<std::string>{}}) {
        SCOPED_TRACE(answer.empty() ? "closed without answer" : answer[0]);
        DeviceScript script;
        script.sizeField = true;
        script.finalAnswer = answer;
        script.pages = {"process=30<br>", "process=87.9<br>", "process=100<br>"};
        FakeDevice device(script);
        FakeSession session;
        EXPECT_EQ(UploadAndPoll(JobFor(package.Path(), device.Port()), session, kTestTimeouts),
                  kUploadOk);
        device.Finish();

        EXPECT_EQ(device.command, "CMD:UPGRADE MCTP/1.0 CS\n@3940@\nEND\n");
        EXPECT_TRUE(device.afterAcknowledgement == "\x64\x0F\x00\x00"s + bytes);
        EXPECT_EQ(session.shown, (std::vector<std::int32_t>{16, 32, 48, 50, 50, 87, 100}));
        EXPECT_EQ(session.traces, (std::vector<std::string>{"UPGRADE:30\r\n", "UPGRADE:87\r\n",
                                                            "UPGRADE:100\r\n"}));
        ASSERT_EQ(device.requests.size(), 3u);
        for (const std::string& request : device.requests) {
            EXPECT_EQ(request.rfind("GET /vb.htm?setuser=admin&upgradeprocess HTTP/1.1\r\n", 0), 0u)
                << request;
            EXPECT_NE(
                request.find("\r\nAuthorization: Basic " + Base64Text("admin:secret") + "\r\n"),
                std::string::npos)
                << request;
        }
    }
}

TEST(UploadAndPoll, CredentialTooLongForTheTokenFailsWith400WithoutPolling)
{
    const TempPackage package(PackageBytes(1280));
    for (const auto& [passwordLength, result] :
         {std::pair<std::size_t, std::int32_t>{381 - 6, kUploadOk}, {382 - 6, kUploadNoResult}}) {
        SCOPED_TRACE(passwordLength);
        DeviceScript script = Answering("@0@");
        script.sizeField = true;
        script.pages = {"process=100"};
        FakeDevice device(script);
        UpgradeJob job = JobFor(package.Path(), device.Port());
        job.password.assign(passwordLength, 'p'); // "admin:" + password
        FakeSession session;
        EXPECT_EQ(UploadAndPoll(job, session, kTestTimeouts), result);
        device.Finish();
        EXPECT_EQ(device.requests.size(), result == kUploadOk ? 1u : 0u);
    }
}

TEST(UploadAndPoll, ClosingPanelEndsThePollWithoutAFailure)
{
    const TempPackage package(PackageBytes(1280));
    DeviceScript script = Answering("@0@");
    script.sizeField = true;
    script.pages = {"process=60<br>"};
    FakeDevice device(script);
    FakeSession session;
    session.stopWhen = [](const FakeSession& s) { return s.sleeps.size() >= 3; };
    EXPECT_EQ(UploadAndPoll(JobFor(package.Path(), device.Port()), session, kTestTimeouts),
              kUploadStopped);
    device.Finish();
    EXPECT_EQ(device.requests.size(), 3u);
    EXPECT_EQ(session.shown, (std::vector<std::int32_t>{50, 60, 60, 60}));
}

} // namespace
