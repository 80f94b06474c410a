// What the loopback tests of the services share: a free TCP port, a blocking client, and the
// request log read back by event.
#pragma once

#include "UniqueFd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace devsim {

// A port on 127.0.0.1 that was free a moment ago: the kernel's pick for a socket bound and
// closed at once.
inline std::uint16_t FreeTcpPort()
{
    UniqueFd probe(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(probe.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return 0;
    socklen_t length = sizeof local;
    ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

inline ::testing::AssertionResult Has(const std::string& line, const std::string& part)
{
    if (line.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << part << " not in " << line;
}

// The log's lines of one event, in the order written.
inline std::vector<std::string> EventLines(const std::string& logPath, const std::string& event)
{
    std::vector<std::string> lines;
    std::ifstream file(logPath);
    for (std::string line; std::getline(file, line);)
        if (line.starts_with("{\"event\":\"" + event + "\""))
            lines.push_back(line);
    return lines;
}

// For lines written after the client can see anything (a close, a timer): until `count` of them
// are there or `limit` has passed.
inline std::vector<std::string> WaitForEventLines(const std::string& logPath,
                                                  const std::string& event, std::size_t count,
                                                  std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto lines = EventLines(logPath, event);
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        lines = EventLines(logPath, event);
    }
    return lines;
}

// A blocking TCP client of the service under test.
class LoopbackClient {
public:
    // Connected, or !Valid() with the connect error in Error().
    LoopbackClient(const char* address, std::uint16_t port)
        : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &to.sin_addr);
        if (::connect(m_socket.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            m_error = errno;
            m_socket.Reset();
        }
    }
    bool Valid() const { return m_socket.Valid(); }
    int Error() const { return m_error; }

    void Send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(m_socket.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ASSERT_GT(sent, 0) << std::strerror(errno);
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
    }

    struct Received {
        std::string bytes;
        bool closed = false; // the server ended its stream
    };
    // Until the server closes, `count` bytes have come, or nothing arrives for `quiet`.
    Received ReadUpTo(std::size_t count, std::chrono::milliseconds quiet)
    {
        Received received;
        while (received.bytes.size() < count) {
            pollfd ready{m_socket.Get(), POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(quiet.count())) != 1)
                break;
            char buffer[4096];
            const std::size_t want = std::min(sizeof buffer, count - received.bytes.size());
            const ssize_t length = ::recv(m_socket.Get(), buffer, want, 0);
            if (length <= 0) {
                received.closed = true;
                break;
            }
            received.bytes.append(buffer, static_cast<std::size_t>(length));
        }
        return received;
    }
    void Close() { m_socket.Reset(); }

private:
    UniqueFd m_socket;
    int m_error = 0;
};

} // namespace devsim
