// The reboot plan and the echo switch, with a plain file standing in for the sysctl: the real
// one is only ever written inside a namespace of the test LAN.
#include "Reboot.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace devsim {
namespace {

TEST(Reboot, PlanFollowsResultDurationAndClone)
{
    struct Case {
        std::int32_t result;
        unsigned rebootMs;
        bool isClone;
        const char* refusal;
        bool reboots;
        bool switchesIcmp;
    };
    const Case cases[] = {
        {0, 5000, false, "", true, true},
        {0, 5000, false, "no --interface: not on the test LAN", true, false},
        {0, 5000, true, "", true, false},
        {7, 5000, false, "", false, false},
        {-1, 5000, false, "", false, false},
        {0, 0, false, "", false, false},
    };
    for (const Case& c : cases) {
        Device device;
        device.settings.upgradeResult = c.result;
        device.settings.rebootDelayMs = 1500;
        device.settings.rebootMs = c.rebootMs;
        device.isClone = c.isClone;
        const RebootPlan plan = PlanReboot(device, c.refusal);
        const std::string what = "result " + std::to_string(c.result) + ", " +
                                 std::to_string(c.rebootMs) + " ms, clone " +
                                 std::to_string(c.isClone) + ", refusal '" + c.refusal + "'";
        EXPECT_EQ(plan.reboots, c.reboots) << what;
        EXPECT_EQ(plan.switchesIcmp, c.switchesIcmp) << what;
        if (c.reboots) {
            EXPECT_EQ(plan.delay, std::chrono::milliseconds(1500)) << what;
            EXPECT_EQ(plan.duration, std::chrono::milliseconds(c.rebootMs)) << what;
            EXPECT_EQ(plan.icmpUntouchedReason.empty(), c.switchesIcmp) << what;
        }
    }
}

TEST(Reboot, EchoSwitchIsRefusedOffTheTestLan)
{
    EXPECT_NE(IcmpSwitchRefusal(false), "");
    // Wherever these tests run, the namespace they run in is named as the machine's own.
    char own[256] = {};
    ASSERT_GT(::readlink("/proc/self/ns/net", own, sizeof own - 1), 0);
    const char* saved = std::getenv("TESSARIN_SANDBOX_OUTER_NETNS");
    const std::string restore = saved ? saved : "";
    ::setenv("TESSARIN_SANDBOX_OUTER_NETNS", own, 1);
    EXPECT_NE(IcmpSwitchRefusal(true), "");
    if (saved)
        ::setenv("TESSARIN_SANDBOX_OUTER_NETNS", restore.c_str(), 1);
    else
        ::unsetenv("TESSARIN_SANDBOX_OUTER_NETNS");
    // The kernel's initial namespace is refused without any hint.
    if (std::string(own) == "net:[4026531833]") {
        ::unsetenv("TESSARIN_SANDBOX_OUTER_NETNS");
        EXPECT_NE(IcmpSwitchRefusal(true), "");
        if (saved)
            ::setenv("TESSARIN_SANDBOX_OUTER_NETNS", restore.c_str(), 1);
    }
}

class SysctlFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(::mkdtemp(m_directory), nullptr);
        m_path = std::string(m_directory) + "/icmp_echo_ignore_all";
        std::ofstream(m_path) << "0\n";
    }
    void TearDown() override
    {
        std::remove(m_path.c_str());
        std::remove((std::string(m_directory) + "/devsim.jsonl").c_str());
        ::rmdir(m_directory);
    }
    std::string Content() const
    {
        std::ifstream file(m_path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    char m_directory[32] = "/tmp/devsim-reboot-XXXXXX";
    std::string m_path;
};

TEST_F(SysctlFile, SwitchNestsAndPutsTheOldValueBack)
{
    {
        IcmpEchoSwitch icmp(m_path);
        EXPECT_EQ(icmp.Silence(), "");
        EXPECT_EQ(Content(), "1\n");
        EXPECT_EQ(icmp.Silence(), ""); // a second device of the namespace
        EXPECT_EQ(icmp.Restore(), "");
        EXPECT_EQ(Content(), "1\n");
        EXPECT_EQ(icmp.Restore(), "");
        EXPECT_EQ(Content(), "0\n");
        EXPECT_EQ(icmp.Restore(), ""); // nothing left to undo
        EXPECT_EQ(Content(), "0\n");

        EXPECT_EQ(icmp.Silence(), "");
        EXPECT_EQ(Content(), "1\n");
    }
    // The run ended while the device was down.
    EXPECT_EQ(Content(), "0\n");

    IcmpEchoSwitch missing(std::string(m_directory) + "/no-such-file");
    EXPECT_NE(missing.Silence(), "");
}

// The loop runs in this thread; the checks are tasks of the same loop, so the device's state is
// read between the reboot's own steps.
TEST_F(SysctlFile, DeviceGoesDownAfterTheDelayAndComesBack)
{
    EventLoop loop;
    JsonLog log;
    const std::string logPath = std::string(m_directory) + "/devsim.jsonl";
    ASSERT_TRUE(log.Open(logPath));
    std::vector<Device> devices(3);
    for (Device& device : devices) {
        device.settings.rebootDelayMs = 20;
        device.settings.rebootMs = 200;
    }
    devices[0].settings.mac = {2, 0, 0, 0, 0, 1};
    devices[1].settings.mac = {2, 0, 0, 0, 0, 2};
    devices[1].isClone = true;
    devices[2].settings.upgradeResult = 3;
    IcmpEchoSwitch icmp(m_path);
    RebootService reboot(loop, devices, log, &icmp, "");

    reboot.PackageInstalled(0);
    reboot.PackageInstalled(0); // a second package while the first reboot is pending
    reboot.PackageInstalled(1);
    reboot.PackageInstalled(2);
    EXPECT_FALSE(devices[0].state.rebooting); // not before the delay

    std::string whileDown;
    std::vector<bool> down;
    loop.After(std::chrono::milliseconds(100), [&] {
        whileDown = Content();
        for (const Device& device : devices)
            down.push_back(device.state.rebooting);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::function<void()> waitForUp = [&] {
        if (!devices[0].state.rebooting || std::chrono::steady_clock::now() > deadline)
            return loop.RequestStop();
        loop.After(std::chrono::milliseconds(10), waitForUp);
    };
    loop.After(std::chrono::milliseconds(101), waitForUp);
    loop.Run();

    EXPECT_EQ(whileDown, "1\n");
    EXPECT_EQ(down, (std::vector<bool>{true, true, false}));
    EXPECT_FALSE(devices[0].state.rebooting);
    EXPECT_EQ(Content(), "0\n");

    std::ifstream file(logPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line.substr(0, line.find(",\"time_ms\"")));
    // The clone's own up may still be due; the original's steps are all there, once.
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], R"({"event":"reboot","phase":"down","mac":"02:00:00:00:00:01",)"
                        R"("icmp":"ignored")");
    EXPECT_EQ(lines[1],
              R"({"event":"reboot","phase":"down","mac":"02:00:00:00:00:02",)"
              R"("icmp":"untouched","reason":"a clone's address is not on the interface")");
    EXPECT_EQ(lines[2], R"({"event":"reboot","phase":"up","mac":"02:00:00:00:00:01",)"
                        R"("icmp":"answered")");
}

} // namespace
} // namespace devsim
