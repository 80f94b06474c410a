// The one loop every simulated service runs in: readiness of its sockets (poll) and delayed
// tasks. Single-threaded; only RequestStop may be called from elsewhere (another thread or a
// signal handler).
#pragma once

#include "UniqueFd.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>

namespace devsim {

class EventLoop {
public:
    // Gets the poll revents that woke it.
    using ReadyHandler = std::function<void(short revents)>;
    using Task = std::function<void()>;

    // Throws std::system_error when the wake-up pipe cannot be made.
    EventLoop();

    // events: POLLIN, POLLOUT, ...; replaces an earlier watch of the same descriptor. A handler
    // may add or remove watches, its own included.
    void Watch(int fd, short events, ReadyHandler handler);
    void Unwatch(int fd);

    void After(std::chrono::milliseconds delay, Task task);

    // Runs until RequestStop; tasks still waiting are dropped.
    void Run();

    // Async-signal-safe and thread-safe.
    void RequestStop() noexcept;

private:
    struct Watched {
        short events;
        ReadyHandler handler;
    };
    using Clock = std::chrono::steady_clock;

    int PollTimeoutMs() const;
    void RunDueTasks();

    UniqueFd m_wakeRead;
    UniqueFd m_wakeWrite;
    std::atomic<bool> m_stop{false};
    std::map<int, Watched> m_watched;
    std::multimap<Clock::time_point, Task> m_tasks;
};

} // namespace devsim
