#include "UpgradeSession.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// Short enough that a closing panel, which waits 2 s for the worker, never has to kill it while
// it sleeps.
constexpr std::chrono::milliseconds kSleepSlice{100};

} // namespace

UpgradeMechanism MechanismForType(std::int32_t type)
{
    if ((type >= 0 && type <= 99) || type >= 300)
        return UpgradeMechanism::Watch;
    if (type >= 200 && type <= 299)
        return UpgradeMechanism::Poll;
    return UpgradeMechanism::Library;
}

bool UpgradeSession::SleepUnlessStopped(std::int32_t milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    for (;;) {
        if (!KeepRunning())
            return false;
        const auto left = end - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, kSleepSlice));
    }
}
