#include "HttpPortService.h"

#include "WebInterface.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <functional>

namespace devsim {

namespace {

using Clock = std::chrono::steady_clock;

// Large enough that a package arrives in few rounds of the loop.
constexpr std::size_t kReadBuffer = 65536;
// Reads per readiness event, so that one fast upload does not starve the other sockets.
constexpr int kReadsPerEvent = 16;

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
      m_listeners(loop, log, "http", std::bind_front(&HttpPortService::OnAccepted, this)),
      m_connections(loop, std::bind_front(&HttpPortService::OnReadyEvent, this)),
      m_buffer(kReadBuffer)
{}

std::string HttpPortService::Open(const std::string& bindAddress)
{
    if (std::string error = m_listeners.SetBindAddress(bindAddress); !error.empty())
        return error;
    return Reconcile();
}

std::vector<std::string> HttpPortService::Endpoints() const
{
    return m_listeners.Endpoints();
}

void HttpPortService::SettingsChanged(std::size_t deviceIndex, const DeviceSettings& before)
{
    const Device& device = m_devices[deviceIndex];
    // Bound to the device's own address: the old one has just left the interface.
    const bool moved = !device.isClone && m_listeners.Follow(before.ip, device.settings.ip);
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
    return m_listeners.Reconcile(wanted);
}

void HttpPortService::OnAccepted(std::uint16_t port, UniqueFd socket, const std::string& peer,
                                 const std::string& localAddress)
{
    const auto device = DeviceOnPort(m_devices, &DeviceSettings::httpPort, port, localAddress);
    const auto drop = [&](const char* reason) {
        JsonLine line("http_dropped");
        line.Text("from", peer);
        if (device)
            line.Text("mac", FormatMac(m_devices[*device].settings.mac));
        m_log.Write(line.Text("reason", reason));
    };
    // A dropped connection's socket is closed on return.
    if (!device) {
        drop("no device uses this port any more");
        return;
    }
    if (m_devices[*device].state.rebooting) {
        drop("rebooting");
        return;
    }
    if (m_devices[*device].settings.httpBehaviour == HttpBehaviour::Close) {
        drop("http_behaviour close");
        return;
    }

    Connection& connection = m_connections.Add(std::move(socket), peer, *device);
    connection.lastActivity = Clock::now();
    ScheduleRequestTimeout(connection.id);
}

void HttpPortService::OnReadyEvent(Connection& connection, short revents)
{
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
                     if (Connection* found = m_connections.Find(id))
                         Send(*found, response, true);
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
        m_connections.Close(connection.id);
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
    const std::uint32_t closeAfter = device.settings.upgradeCloseAfter;
    if (!progress.packageComplete && closeAfter != 0 &&
        upgrade.CurrentPhase() == UpgradeReceiver::Phase::Package &&
        upgrade.PackageReceived() >= closeAfter) {
        LogUpgradeIncomplete(connection, "closed by the device (upgrade_close_after)");
        // Unread bytes still queued make the close a reset, as a device that gives up does.
        m_connections.Close(connection.id);
        return false;
    }
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
    if (const std::string error = m_connections.Flush(connection); !error.empty()) {
        m_log.Write(JsonLine("send_error")
                        .Text("to", connection.peer)
                        .Text("mac", FormatMac(m_devices[connection.device].settings.mac))
                        .Text("reason", error));
        m_connections.Close(id);
        return false;
    }
    if (!connection.output.empty())
        return true; // the rest goes out when the socket can take it
    if (connection.closeAfterOutput && connection.mode != Mode::Closing) {
        // Half-close: the tool reads until the end of the stream, and a full close with its
        // unread bytes still queued could turn into a reset that eats the answer.
        ::shutdown(connection.socket.Get(), SHUT_WR);
        connection.mode = Mode::Closing;
        m_loop.After(kLingerTimeout, [this, id] {
            const Connection* found = m_connections.Find(id);
            if (found != nullptr && found->mode == Mode::Closing)
                m_connections.Close(id);
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
    m_connections.Close(connection.id);
}

void HttpPortService::ScheduleRequestTimeout(std::uint64_t id)
{
    m_loop.After(kRequestTimeout, [this, id] {
        const Connection* found = m_connections.Find(id);
        if (found == nullptr)
            return;
        const Connection& connection = *found;
        if (connection.mode != Mode::Undecided && connection.mode != Mode::Http)
            return;
        m_log.Write(JsonLine("http_incomplete")
                        .Text("from", connection.peer)
                        .Text("mac", FormatMac(m_devices[connection.device].settings.mac))
                        .Text("reason", "no complete header within " +
                                            std::to_string(kRequestTimeout.count()) + " s")
                        .Text("raw", connection.received));
        m_connections.Close(id);
    });
}

void HttpPortService::ScheduleIdleCheck(std::uint64_t id, Clock::duration after)
{
    m_loop.After(std::chrono::ceil<std::chrono::milliseconds>(after), [this, id] {
        const Connection* found = m_connections.Find(id);
        if (found == nullptr)
            return;
        const Connection& connection = *found;
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
        m_connections.Close(id);
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
