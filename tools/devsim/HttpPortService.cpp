#include "HttpPortService.h"

#include "DiscoveryService.h"
#include "WebInterface.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace devsim {

namespace {

using Clock = std::chrono::steady_clock;

// Large enough that a package arrives in few rounds of the loop.
constexpr std::size_t kReadBuffer = 65536;
// Reads per readiness event, so that one fast upload does not starve the other sockets.
constexpr int kReadsPerEvent = 16;

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

JsonLine& OptionalText(JsonLine& line, std::string_view key,
                       const std::optional<std::string>& value)
{
    return value ? line.Text(key, *value) : line.Raw(key, "null");
}

std::string_view AsText(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::span<const std::uint8_t> AsBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

const char* PhaseName(const std::optional<UpgradeReceiver>& upgrade)
{
    if (!upgrade)
        return "command";
    switch (upgrade->CurrentPhase()) {
    case UpgradeReceiver::Phase::SizeField:
        return "size";
    case UpgradeReceiver::Phase::Package:
        return "package";
    case UpgradeReceiver::Phase::Done:
        break;
    }
    return "done";
}

} // namespace

HttpPortService::HttpPortService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log,
                                 PackageHandler onPackage)
    : m_loop(loop), m_devices(devices), m_log(log), m_onPackage(std::move(onPackage)),
      m_buffer(kReadBuffer)
{}

HttpPortService::~HttpPortService()
{
    for (const auto& [port, listener] : m_listeners)
        m_loop.Unwatch(listener.socket.Get());
    for (const auto& [id, connection] : m_connections)
        m_loop.Unwatch(connection->socket.Get());
}

std::string HttpPortService::Open(const std::string& bindAddress)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, bindAddress.c_str(), &parsed) != 1)
        return "--bind " + bindAddress + ": not an IPv4 address";
    m_bindAddress = bindAddress;
    return Reconcile();
}

std::vector<std::string> HttpPortService::Endpoints() const
{
    std::vector<std::string> endpoints;
    for (const auto& [port, listener] : m_listeners) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(listener.socket.Get(), reinterpret_cast<sockaddr*>(&local), &length) == 0)
            endpoints.push_back(EndpointText(local));
    }
    return endpoints;
}

void HttpPortService::SettingsChanged(std::size_t deviceIndex, const DeviceSettings& before)
{
    const Device& device = m_devices[deviceIndex];
    bool moved = false;
    // Bound to the device's own address: the old one has just left the interface.
    if (!device.isClone && device.settings.ip != before.ip && m_bindAddress == before.ip) {
        in_addr parsed{};
        if (::inet_pton(AF_INET, device.settings.ip.c_str(), &parsed) == 1) {
            m_bindAddress = device.settings.ip;
            moved = true;
        }
    }
    if (moved || device.settings.httpPort != before.httpPort)
        Reconcile();
}

std::string HttpPortService::Reconcile()
{
    std::set<std::uint16_t> wanted;
    for (const Device& device : m_devices) {
        const std::int32_t port = device.settings.httpPort;
        if (port >= 1 && port <= 65535)
            wanted.insert(static_cast<std::uint16_t>(port));
        else if (m_reportedUnusablePorts.insert(port).second)
            m_log.Write(JsonLine("http_listen_error")
                            .Number("port", port)
                            .Text("reason", "not a TCP port: no web server for it"));
    }
    for (auto it = m_listeners.begin(); it != m_listeners.end();) {
        if (wanted.contains(it->first) && it->second.address == m_bindAddress) {
            ++it;
            continue;
        }
        m_loop.Unwatch(it->second.socket.Get());
        m_log.Write(JsonLine("http_listen")
                        .Text("bind", it->second.address + ':' + std::to_string(it->first))
                        .Text("state", "closed"));
        it = m_listeners.erase(it);
    }
    std::string firstError;
    for (std::uint16_t port : wanted) {
        if (m_listeners.contains(port))
            continue;
        if (std::string error = Listen(port); !error.empty()) {
            m_log.Write(JsonLine("http_listen_error")
                            .Text("bind", m_bindAddress + ':' + std::to_string(port))
                            .Text("reason", error));
            if (firstError.empty())
                firstError = error;
        }
    }
    return firstError;
}

std::string HttpPortService::Listen(std::uint16_t port)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::inet_pton(AF_INET, m_bindAddress.c_str(), &local.sin_addr);

    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.Valid())
        return SystemError("socket");
    // A restarted simulator must not wait for the last run's connections in TIME_WAIT.
    const int on = 1;
    if (::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return SystemError("setsockopt");
    const std::string endpoint = m_bindAddress + ':' + std::to_string(port);
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return SystemError("bind " + endpoint);
    if (::listen(socket.Get(), SOMAXCONN) != 0)
        return SystemError("listen " + endpoint);

    m_loop.Watch(socket.Get(), POLLIN, [this, port](short) { OnAcceptable(port); });
    m_listeners[port] = Listener{std::move(socket), m_bindAddress};
    m_log.Write(JsonLine("http_listen").Text("bind", endpoint).Text("state", "open"));
    return {};
}

std::optional<std::size_t> HttpPortService::DeviceFor(std::uint16_t port,
                                                      const std::string& localAddress) const
{
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        if (m_devices[i].settings.httpPort != port)
            continue;
        if (m_devices[i].settings.ip == localAddress)
            return i;
        if (!first)
            first = i;
    }
    return first;
}

void HttpPortService::OnAcceptable(std::uint16_t port)
{
    const auto listener = m_listeners.find(port);
    if (listener == m_listeners.end())
        return;
    for (;;) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        UniqueFd socket(::accept4(listener->second.socket.Get(), reinterpret_cast<sockaddr*>(&peer),
                                  &peerLength, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.Valid()) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_log.Write(JsonLine("receive_error").Text("reason", SystemError("accept")));
            return;
        }
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&local), &localLength);
        char localText[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &local.sin_addr, localText, sizeof localText);

        const std::string peerText = EndpointText(peer);
        const auto device = DeviceFor(port, localText);
        const auto drop = [&](const char* reason) {
            JsonLine line("http_dropped");
            line.Text("from", peerText);
            if (device)
                line.Text("mac", FormatMac(m_devices[*device].settings.mac));
            m_log.Write(line.Text("reason", reason));
        };
        // Dropped connections are closed by the socket's owner at the end of this round.
        if (!device) {
            drop("no device uses this port any more");
            continue;
        }
        if (m_devices[*device].state.rebooting) {
            drop("rebooting");
            continue;
        }
        if (m_devices[*device].settings.httpBehaviour == HttpBehaviour::Close) {
            drop("http_behaviour close");
            continue;
        }

        auto connection = std::make_unique<Connection>();
        const std::uint64_t id = m_nextId++;
        connection->id = id;
        connection->peer = peerText;
        connection->device = *device;
        connection->lastActivity = Clock::now();
        const int fd = socket.Get();
        connection->socket = std::move(socket);
        m_connections.emplace(id, std::move(connection));
        m_loop.Watch(fd, POLLIN, [this, id](short revents) { OnReadyEvent(id, revents); });
        ScheduleRequestTimeout(id);
    }
}

void HttpPortService::OnReadyEvent(std::uint64_t id, short revents)
{
    const auto found = m_connections.find(id);
    if (found == m_connections.end())
        return;
    Connection& connection = *found->second;
    if ((revents & POLLOUT) != 0 && !Flush(connection))
        return;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        ReadAvailable(connection);
}

bool HttpPortService::ReadAvailable(Connection& connection)
{
    for (int round = 0; round < kReadsPerEvent; ++round) {
        const ssize_t received =
            ::recv(connection.socket.Get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (received > 0) {
            connection.lastActivity = Clock::now();
            if (!HandleBytes(connection,
                             std::span(m_buffer.data(), static_cast<std::size_t>(received))))
                return false;
            continue;
        }
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        // The end of the peer's stream, or a reset: either way nothing more comes.
        PeerClosed(connection);
        return false;
    }
    return true;
}

bool HttpPortService::HandleBytes(Connection& connection, std::span<const std::uint8_t> bytes)
{
    switch (connection.mode) {
    case Mode::Undecided:
        connection.received += AsText(bytes);
        switch (ClassifyStream(connection.received)) {
        case StreamKind::Undecided:
            return true;
        case StreamKind::Upgrade:
            connection.mode = Mode::Upgrade;
            ScheduleIdleCheck(connection.id, kUpgradeIdleTimeout);
            return HandleUpgradeCommand(connection);
        case StreamKind::Http:
            connection.mode = Mode::Http;
            return HandleHttp(connection);
        }
        return true;
    case Mode::Http:
        connection.received += AsText(bytes);
        return HandleHttp(connection);
    case Mode::Upgrade:
        if (!connection.upgrade) {
            connection.received += AsText(bytes);
            return HandleUpgradeCommand(connection);
        }
        return FeedUpgrade(connection, bytes);
    case Mode::Answering:
    case Mode::Silent:
    case Mode::Closing:
        // A GET has nothing after its header; whatever comes is not read as a request.
        return true;
    }
    return true;
}

bool HttpPortService::HandleHttp(Connection& connection)
{
    const auto end = FindHeaderEnd(connection.received);
    const bool tooLong =
        end ? *end > kMaxRequestHeader : connection.received.size() > kMaxRequestHeader;
    if (!end && !tooLong)
        return true;

    Device& device = m_devices[connection.device];
    const DeviceSettings& settings = device.settings;
    HttpParse parse;
    if (tooLong)
        parse.error = "header longer than " + std::to_string(kMaxRequestHeader) + " bytes";
    else
        parse = ParseHttpRequest(std::string_view(connection.received).substr(0, *end));

    std::optional<WebAnswer> answer;
    Authorization authorization;
    if (parse.request) {
        if (settings.httpBehaviour == HttpBehaviour::Silent)
            authorization = CheckAuthorization(*parse.request, settings);
        else
            answer = AnswerRequest(*parse.request, device);
        if (answer)
            authorization = answer->authorization;
    } else if (settings.httpBehaviour != HttpBehaviour::Silent) {
        WebAnswer refusal;
        refusal.status = settings.httpBehaviour == HttpBehaviour::Status ? settings.httpStatus
                         : tooLong                                       ? 431
                                                                         : 400;
        refusal.response =
            BuildHttpResponse(refusal.status, std::to_string(refusal.status) + ' ' +
                                                  std::string(ReasonPhrase(refusal.status)) + '\n');
        answer = std::move(refusal);
    }

    JsonLine line("http");
    line.Text("from", connection.peer).Text("mac", FormatMac(settings.mac));
    OptionalText(line, "method",
                 parse.request ? std::optional(parse.request->method) : std::nullopt);
    OptionalText(line, "target",
                 parse.request ? std::optional(parse.request->target) : std::nullopt);
    OptionalText(line, "authorization", authorization.header);
    OptionalText(line, "user", authorization.user);
    line.Raw("authorized", authorization.authorized ? "true" : "false");
    if (answer)
        line.Number("status", answer->status);
    else
        line.Raw("status", "null");
    if (!parse.error.empty())
        line.Text("error", parse.error);
    line.Text("raw", connection.received);
    m_log.Write(line);
    if (answer && answer->progress)
        m_log.Write(JsonLine("progress")
                        .Text("from", connection.peer)
                        .Text("mac", FormatMac(settings.mac))
                        .Text("setuser", answer->route.setUser)
                        .Raw("value", *answer->progress));

    if (!answer) {
        connection.mode = Mode::Silent;
        return true;
    }
    connection.mode = Mode::Answering;
    if (settings.httpDelayMs == 0)
        return Send(connection, answer->response, true);
    m_loop.After(std::chrono::milliseconds(settings.httpDelayMs),
                 [this, id = connection.id, response = std::move(answer->response)] {
                     const auto found = m_connections.find(id);
                     if (found != m_connections.end())
                         Send(*found->second, response, true);
                 });
    return true;
}

bool HttpPortService::HandleUpgradeCommand(Connection& connection)
{
    const UpgradeCommand command = ParseUpgradeCommand(connection.received);
    if (command.state == UpgradeCommand::State::Incomplete)
        return true;
    const DeviceSettings& settings = m_devices[connection.device].settings;
    const std::string raw = connection.received.substr(0, command.consumed);
    if (command.state == UpgradeCommand::State::Error) {
        m_log.Write(JsonLine("upgrade_error")
                        .Text("from", connection.peer)
                        .Text("mac", FormatMac(settings.mac))
                        .Text("reason", command.error)
                        .Text("raw", raw));
        Close(connection.id);
        return false;
    }

    const bool sizeField = SendsSizeField(settings.type);
    JsonLine line("upgrade_command");
    line.Text("from", connection.peer)
        .Text("mac", FormatMac(settings.mac))
        .Number("size", command.size)
        .Raw("size_field", sizeField ? "true" : "false");
    OptionalText(line, "ack",
                 settings.upgradeAck ? std::optional(std::string(kUpgradeAck)) : std::nullopt);
    m_log.Write(line.Text("raw", raw));

    const std::string rest = connection.received.substr(command.consumed);
    connection.received.clear();
    connection.upgrade.emplace(command.size, sizeField);
    if (settings.upgradeAck && !Send(connection, kUpgradeAck, false))
        return false;
    return FeedUpgrade(connection, AsBytes(rest));
}

bool HttpPortService::FeedUpgrade(Connection& connection, std::span<const std::uint8_t> bytes)
{
    UpgradeReceiver& upgrade = *connection.upgrade;
    const UpgradeReceiver::Progress progress = upgrade.Feed(bytes);
    Device& device = m_devices[connection.device];
    const std::string mac = FormatMac(device.settings.mac);
    if (progress.sizeField)
        m_log.Write(JsonLine("upgrade_size")
                        .Text("from", connection.peer)
                        .Text("mac", mac)
                        .Number("size", *progress.sizeField)
                        .Raw("matches_command",
                             *progress.sizeField == upgrade.Expected() ? "true" : "false"));
    if (!progress.packageComplete)
        return true;

    m_log.Write(JsonLine("upgrade_data")
                    .Text("from", connection.peer)
                    .Text("mac", mac)
                    .Number("received", static_cast<long long>(upgrade.PackageReceived()))
                    .Text("sha256", upgrade.PackageSha256()));
    const std::optional<std::string> answer = FinalAnswer(device.settings);
    JsonLine answerLine("upgrade_answer");
    answerLine.Text("from", connection.peer)
        .Text("mac", mac)
        .Number("code", device.settings.upgradeResult);
    m_log.Write(OptionalText(answerLine, "answer", answer));

    device.state.packageReceived = true;
    device.state.progressAnswers = 0;
    if (m_onPackage)
        m_onPackage(connection.device);
    // The connection stays open: the tool keeps it through its reboot watch.
    return !answer || Send(connection, *answer, false);
}

bool HttpPortService::Send(Connection& connection, std::string_view bytes, bool closeAfter)
{
    connection.output += bytes;
    connection.closeAfterOutput = connection.closeAfterOutput || closeAfter;
    return Flush(connection);
}

bool HttpPortService::Flush(Connection& connection)
{
    const std::uint64_t id = connection.id;
    const int fd = connection.socket.Get();
    while (!connection.output.empty()) {
        const ssize_t sent = ::send(fd, connection.output.data(), connection.output.size(),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            connection.output.erase(0, static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            m_loop.Watch(fd, POLLIN | POLLOUT,
                         [this, id](short revents) { OnReadyEvent(id, revents); });
            return true;
        }
        m_log.Write(JsonLine("send_error")
                        .Text("to", connection.peer)
                        .Text("mac", FormatMac(m_devices[connection.device].settings.mac))
                        .Text("reason", std::strerror(errno)));
        Close(id);
        return false;
    }
    m_loop.Watch(fd, POLLIN, [this, id](short revents) { OnReadyEvent(id, revents); });
    if (connection.closeAfterOutput && connection.mode != Mode::Closing) {
        // Half-close: the tool reads until the end of the stream, and a full close with its
        // unread bytes still queued could turn into a reset that eats the answer.
        ::shutdown(fd, SHUT_WR);
        connection.mode = Mode::Closing;
        m_loop.After(kLingerTimeout, [this, id] {
            const auto found = m_connections.find(id);
            if (found != m_connections.end() && found->second->mode == Mode::Closing)
                Close(id);
        });
    }
    return true;
}

void HttpPortService::PeerClosed(Connection& connection)
{
    const std::string mac = FormatMac(m_devices[connection.device].settings.mac);
    switch (connection.mode) {
    case Mode::Undecided:
    case Mode::Http:
        m_log.Write(JsonLine("http_incomplete")
                        .Text("from", connection.peer)
                        .Text("mac", mac)
                        .Text("reason", "closed by the peer before the end of the header")
                        .Text("raw", connection.received));
        break;
    case Mode::Answering:
    case Mode::Silent:
        m_log.Write(JsonLine("http_unanswered")
                        .Text("from", connection.peer)
                        .Text("mac", mac)
                        .Text("reason", "closed by the peer before an answer"));
        break;
    case Mode::Upgrade:
        if (connection.upgrade &&
            connection.upgrade->CurrentPhase() == UpgradeReceiver::Phase::Done)
            m_log.Write(JsonLine("upgrade_closed")
                            .Text("from", connection.peer)
                            .Text("mac", mac)
                            .Number("extra_bytes",
                                    static_cast<long long>(connection.upgrade->ExtraReceived())));
        else
            LogUpgradeIncomplete(connection, "closed by the peer");
        break;
    case Mode::Closing:
        break;
    }
    Close(connection.id);
}

void HttpPortService::Close(std::uint64_t id)
{
    const auto found = m_connections.find(id);
    if (found == m_connections.end())
        return;
    m_loop.Unwatch(found->second->socket.Get());
    m_connections.erase(found);
}

void HttpPortService::ScheduleRequestTimeout(std::uint64_t id)
{
    m_loop.After(kRequestTimeout, [this, id] {
        const auto found = m_connections.find(id);
        if (found == m_connections.end())
            return;
        const Connection& connection = *found->second;
        if (connection.mode != Mode::Undecided && connection.mode != Mode::Http)
            return;
        m_log.Write(JsonLine("http_incomplete")
                        .Text("from", connection.peer)
                        .Text("mac", FormatMac(m_devices[connection.device].settings.mac))
                        .Text("reason", "no complete header within " +
                                            std::to_string(kRequestTimeout.count()) + " s")
                        .Text("raw", connection.received));
        Close(id);
    });
}

void HttpPortService::ScheduleIdleCheck(std::uint64_t id, Clock::duration after)
{
    m_loop.After(std::chrono::ceil<std::chrono::milliseconds>(after), [this, id] {
        const auto found = m_connections.find(id);
        if (found == m_connections.end())
            return;
        const Connection& connection = *found->second;
        if (connection.upgrade &&
            connection.upgrade->CurrentPhase() == UpgradeReceiver::Phase::Done)
            return;
        const auto idle = Clock::now() - connection.lastActivity;
        if (idle < kUpgradeIdleTimeout) {
            ScheduleIdleCheck(id, kUpgradeIdleTimeout - idle);
            return;
        }
        LogUpgradeIncomplete(
            connection,
            ("nothing received for " + std::to_string(kUpgradeIdleTimeout.count()) + " s").c_str());
        Close(id);
    });
}

void HttpPortService::LogUpgradeIncomplete(const Connection& connection, const char* reason)
{
    JsonLine line("upgrade_incomplete");
    line.Text("from", connection.peer)
        .Text("mac", FormatMac(m_devices[connection.device].settings.mac))
        .Text("phase", PhaseName(connection.upgrade));
    if (connection.upgrade)
        line.Number("received", static_cast<long long>(connection.upgrade->PackageReceived()))
            .Number("expected", connection.upgrade->Expected());
    else
        line.Text("raw", connection.received);
    m_log.Write(line.Text("reason", reason));
}

} // namespace devsim
