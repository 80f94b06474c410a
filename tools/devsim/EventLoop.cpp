#include "EventLoop.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace devsim {

EventLoop::EventLoop()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    m_wakeRead.Reset(ends[0]);
    m_wakeWrite.Reset(ends[1]);
}

void EventLoop::Watch(int fd, short events, ReadyHandler handler)
{
    m_watched[fd] = Watched{events, std::move(handler)};
}

void EventLoop::Unwatch(int fd)
{
    m_watched.erase(fd);
}

void EventLoop::After(std::chrono::milliseconds delay, Task task)
{
    m_tasks.emplace(Clock::now() + delay, std::move(task));
}

void EventLoop::RequestStop() noexcept
{
    m_stop.store(true);
    const char byte = 0;
    // A full pipe already holds a wake-up; nothing else can go wrong worth handling here.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite.Get(), &byte, 1);
}

int EventLoop::PollTimeoutMs() const
{
    if (m_tasks.empty())
        return -1;
    const auto wait = m_tasks.begin()->first - Clock::now();
    if (wait <= Clock::duration::zero())
        return 0;
    // Rounded up, so a task is never polled for a moment too early and spun on.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

void EventLoop::RunDueTasks()
{
    const auto now = Clock::now();
    while (!m_tasks.empty() && m_tasks.begin()->first <= now && !m_stop.load()) {
        Task task = std::move(m_tasks.begin()->second);
        m_tasks.erase(m_tasks.begin());
        task();
    }
}

void EventLoop::Run()
{
    std::vector<pollfd> polled;
    while (!m_stop.load()) {
        polled.clear();
        polled.push_back({m_wakeRead.Get(), POLLIN, 0});
        for (const auto& [fd, watched] : m_watched)
            polled.push_back({fd, watched.events, 0});

        const int ready = ::poll(polled.data(), polled.size(), PollTimeoutMs());
        if (ready < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        if (m_stop.load())
            break;
        for (std::size_t i = 1; ready > 0 && i < polled.size(); ++i) {
            if (polled[i].revents == 0)
                continue;
            // Looked up again: an earlier handler in this round may have removed it.
            const auto found = m_watched.find(polled[i].fd);
            if (found == m_watched.end())
                continue;
            const ReadyHandler handler = found->second.handler;
            handler(polled[i].revents);
            if (m_stop.load())
                return;
        }
        RunDueTasks();
    }
}

} // namespace devsim
