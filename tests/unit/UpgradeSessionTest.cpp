// The panel-side defaults of an upgrade session: the sleep that a closing panel cuts short, the
// store-then-show order of the progress figure, and the choice of mechanism by device type.
#include "upgrade/UpgradeSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A session that keeps the default sleep; only the stop flag is its own.
class FlagSession : public UpgradeSession {
public:
    void ShowProgress(std::int32_t percent) override
    {
        shown.push_back(percent);
        storedWhenShown.push_back(m_nProgress.load());
    }
    bool KeepRunning() override
    {
        ++keepRunningCalls;
        return keepRunning;
    }
    bool PingIcmp(const std::string&) override { return false; }
    bool PingRaw(const std::string&) override { return false; }
    void Trace(const std::string&) override {}

    std::atomic<bool> keepRunning{true};
    std::atomic<int> keepRunningCalls{0};
    std::vector<std::int32_t> shown;
    std::vector<std::int32_t> storedWhenShown;
};

TEST(SleepUnlessStopped, SleepsTheWholeTimeWhileThePanelStaysOpen)
{
    FlagSession session;
    const auto start = Clock::now();
    EXPECT_TRUE(session.SleepUnlessStopped(250));
    EXPECT_GE(Clock::now() - start, 250ms);
    // It looked at the flag between slices, not only once.
    EXPECT_GE(session.keepRunningCalls.load(), 3);
}

TEST(SleepUnlessStopped, NothingToSleepReturnsAtOnce)
{
    for (const std::int32_t milliseconds : {0, -5}) {
        FlagSession session;
        EXPECT_TRUE(session.SleepUnlessStopped(milliseconds));
    }
}

TEST(SleepUnlessStopped, StoppedPanelEndsTheSleep)
{
    FlagSession stopped;
    stopped.keepRunning = false;
    EXPECT_FALSE(stopped.SleepUnlessStopped(60'000));
    EXPECT_FALSE(stopped.SleepUnlessStopped(0));

    // Closed while the worker sleeps: the sleep ends at the next slice, long before the minute
    // and within the 2 s the panel waits for its worker.
    FlagSession closing;
    std::thread panel([&] {
        std::this_thread::sleep_for(200ms);
        closing.keepRunning = false;
    });
    const auto start = Clock::now();
    EXPECT_FALSE(closing.SleepUnlessStopped(60'000));
    const auto slept = Clock::now() - start;
    panel.join();
    EXPECT_GE(slept, 200ms);
    EXPECT_LT(slept, 2s);
}

TEST(SetProgress, StoresTheFigureBeforeShowingIt)
{
    FlagSession session;
    session.SetProgress(37);
    session.SetProgress(100);
    EXPECT_EQ(session.shown, (std::vector<std::int32_t>{37, 100}));
    EXPECT_EQ(session.storedWhenShown, session.shown);
    EXPECT_EQ(session.m_nProgress.load(), 100);
}

TEST(MechanismForType, BoundariesOfTheThreeRanges)
{
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::int32_t type;
        UpgradeMechanism mechanism;
    } cases[] = {
        {kMin, UpgradeMechanism::Library}, {-1, UpgradeMechanism::Library},
        {0, UpgradeMechanism::Watch},      {99, UpgradeMechanism::Watch},
        {100, UpgradeMechanism::Library},  {199, UpgradeMechanism::Library},
        {200, UpgradeMechanism::Poll},     {299, UpgradeMechanism::Poll},
        {300, UpgradeMechanism::Watch},    {kMax, UpgradeMechanism::Watch},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MechanismForType(c.type), c.mechanism) << c.type;
}

} // namespace
