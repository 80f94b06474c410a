// The panel-side defaults of an upgrade session: the sleep that a closing panel cuts short, and
// the store-then-show order of the progress figure.
#include "upgrade/UpgradeSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

} // namespace
