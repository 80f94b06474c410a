#include "LibraryService.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <functional>
#include <set>

namespace devsim {

namespace {

constexpr std::size_t kReadBuffer = 65536;
// Reads per readiness event, so that one fast upload does not starve the other sockets.
constexpr int kReadsPerEvent = 16;

const char* StateName(int state)
{
    static const char* const kNames[] = {"greeting", "login", "ready", "receiving", "closing"};
    return kNames[state];
}

std::span<const std::uint8_t> AsBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The first bytes of what did not parse, for the log.
std::string HexPrefix(std::string_view bytes)
{
    return HexBytes(AsBytes(bytes.substr(0, 32)));
}

} // namespace

LibraryService::LibraryService(EventLoop& loop, std::vector<Device>& devices, JsonLog& log,
                               InstalledHandler onInstalled)
    : m_loop(loop), m_devices(devices), m_log(log), m_onInstalled(std::move(onInstalled)),
      m_listeners(loop, log, "library", std::bind_front(&LibraryService::OnAccepted, this)),
      m_connections(loop, std::bind_front(&LibraryService::OnReadyEvent, this)),
      m_buffer(kReadBuffer)
{}

std::string LibraryService::Open(const std::string& bindAddress)
{
    if (std::string error = m_listeners.SetBindAddress(bindAddress); !error.empty())
        return error;
    return Reconcile();
}

std::vector<std::string> LibraryService::Endpoints() const
{
    return m_listeners.Endpoints();
}

void LibraryService::SettingsChanged(std::size_t deviceIndex, const DeviceSettings& before)
{
    const Device& device = m_devices[deviceIndex];
    if (!device.isClone && m_listeners.Follow(before.ip, device.settings.ip))
        Reconcile();
}

std::string LibraryService::Reconcile()
{
    std::set<std::uint16_t> wanted;
    for (const Device& device : m_devices)
        if (device.settings.libraryPort != 0)
            wanted.insert(device.settings.libraryPort);
    return m_listeners.Reconcile(wanted);
}

void LibraryService::OnAccepted(std::uint16_t port, UniqueFd socket, const std::string& peer,
                                const std::string& localAddress)
{
    const auto device = DeviceOnPort(m_devices, &DeviceSettings::libraryPort, port, localAddress);
    if (!device || m_devices[*device].state.rebooting) {
        JsonLine line("library_dropped");
        line.Text("from", peer);
        if (device)
            line.Text("mac", FormatMac(m_devices[*device].settings.mac));
        m_log.Write(line.Text("reason", device ? "rebooting" : "no device uses this port"));
        return; // the socket is closed on return
    }

    Connection& connection = m_connections.Add(std::move(socket), peer, *device);
    connection.lastHeard = Clock::now();
    ScheduleTimeoutCheck(connection.id, kGreetingTimeout);
}

void LibraryService::OnReadyEvent(Connection& connection, short revents)
{
    if ((revents & POLLOUT) != 0 && !Flush(connection))
        return;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        ReadAvailable(connection);
}

bool LibraryService::ReadAvailable(Connection& connection)
{
    for (int round = 0; round < kReadsPerEvent; ++round) {
        const ssize_t received =
            ::recv(connection.socket.Get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (received <= 0) {
            // The end of the peer's stream, or a reset.
            if (connection.state != State::Closing) {
                JsonLine line = Line("library_end", connection);
                line.Text("state", StateName(static_cast<int>(connection.state)));
                if (connection.state == State::Receiving)
                    line.Number("received", static_cast<long long>(connection.received))
                        .Number("expected", connection.package.size);
                m_log.Write(line);
            }
            m_connections.Close(connection.id);
            return false;
        }
        if (connection.state == State::Closing)
            continue; // after our CLOSE nothing more is read
        connection.lastHeard = Clock::now();
        connection.input.append(m_buffer.data(), static_cast<std::size_t>(received));

        for (;;) {
            const LibraryFrameParse parse = ParseLibraryFrame(connection.input);
            if (parse.state == LibraryFrameParse::State::Incomplete)
                break;
            if (parse.state != LibraryFrameParse::State::Frame) {
                m_log.Write(Line("library_error", connection)
                                .Text("reason", parse.error)
                                .Text("hex", HexPrefix(connection.input)));
                return CloseWith(connection,
                                 parse.state == LibraryFrameParse::State::BadVersion
                                     ? library::kCloseVersion
                                     : library::kCloseBadFrame,
                                 "bad frame");
            }
            const std::string frame = connection.input.substr(0, parse.consumed);
            connection.input.erase(0, parse.consumed);
            if (!HandleFrame(connection, parse.type,
                             std::string_view(frame).substr(kLibraryHeaderSize)))
                return false;
            if (connection.state == State::Closing)
                break;
        }
    }
    return true;
}

bool LibraryService::HandleFrame(Connection& connection, std::uint8_t type,
                                 std::string_view payload)
{
    Device& device = m_devices[connection.device];
    if (device.state.rebooting) {
        m_log.Write(Line("library_dropped", connection).Text("reason", "rebooting"));
        return CloseWith(connection, library::kCloseRebooting, "rebooting");
    }
    if (type < library::kHello || type > library::kClose) {
        m_log.Write(Line("library_error", connection)
                        .Text("reason", "unknown message type " + std::to_string(type)));
        return CloseWith(connection, library::kCloseBadFrame, "bad frame");
    }

    const bool loggedIn = connection.state == State::Ready || connection.state == State::Receiving;
    if (loggedIn && (type == library::kPing || type == library::kClose)) {
        if (type == library::kPing) {
            if (!payload.empty())
                return CloseWith(connection, library::kCloseBadFrame, "PING with a payload");
            m_log.Write(Line("library_ping", connection));
            return Send(connection, LibraryFrame(library::kPong));
        }
        const auto reason = ParseLibraryU32(payload);
        JsonLine line = Line("library_close", connection);
        line.Text("by", "peer");
        if (reason)
            line.Number("reason", *reason);
        m_log.Write(line);
        m_connections.Close(connection.id);
        return false;
    }
    // PONG needs no answer wherever it comes.
    if (loggedIn && type == library::kPong)
        return true;

    switch (connection.state) {
    case State::Greeting:
    case State::Login:
        return HandleGreeting(connection, type, payload);
    case State::Ready:
        return HandleReady(connection, type, payload);
    case State::Receiving:
        return HandleReceiving(connection, type, payload);
    case State::Closing:
        break;
    }
    return true;
}

bool LibraryService::HandleGreeting(Connection& connection, std::uint8_t type,
                                    std::string_view payload)
{
    const DeviceSettings& settings = m_devices[connection.device].settings;
    if (connection.state == State::Greeting && type == library::kHello) {
        const auto label = ParseHelloLabel(payload);
        if (!label)
            return CloseWith(connection, library::kCloseBadFrame, "bad HELLO");
        m_log.Write(Line("library_hello", connection).Text("label", *label));
        connection.state = State::Login;
        return Send(connection, LibraryWelcome(kLibraryChunkLimit));
    }
    if (connection.state == State::Login && type == library::kLogin) {
        const auto login = ParseLibraryLogin(payload);
        if (!login)
            return CloseWith(connection, library::kCloseBadFrame, "bad LOGIN");
        const bool accepted = login->user == settings.user && login->password == settings.password;
        m_log.Write(Line("library_login", connection)
                        .Text("user", login->user)
                        .Text("password", login->password)
                        .Raw("accepted", accepted ? "true" : "false"));
        if (!Send(connection, LibraryLoginResult(accepted)))
            return false;
        if (!accepted)
            return CloseWith(connection, library::kCloseLoginRefused, "login refused");
        // The time-out check scheduled at the connection goes on with the idle limit.
        connection.state = State::Ready;
        return true;
    }
    return CloseWith(connection, library::kCloseUnexpected, "unexpected message");
}

bool LibraryService::HandleReady(Connection& connection, std::uint8_t type,
                                 std::string_view payload)
{
    Device& device = m_devices[connection.device];
    if (type == library::kInfoRequest) {
        if (!payload.empty())
            return CloseWith(connection, library::kCloseBadFrame, "INFO_REQUEST with a payload");
        m_log.Write(Line("library_info", connection));
        const DeviceSettings& s = device.settings;
        return Send(connection, LibraryInfo(s.model, s.name, s.firmware, s.channels, s.type));
    }
    if (type != library::kPackageBegin)
        return CloseWith(connection, library::kCloseUnexpected, "unexpected message");

    const auto begin = ParseLibraryPackageBegin(payload);
    if (!begin)
        return CloseWith(connection, library::kCloseBadFrame, "bad PACKAGE_BEGIN");
    const char* refusal = device.state.libraryInstalling ? "installing"
                          : begin->size == 0             ? "empty package"
                                                         : nullptr;
    JsonLine line = Line("library_package_begin", connection);
    line.Number("size", begin->size).Text("name", begin->name);
    if (refusal != nullptr) {
        m_log.Write(line.Raw("accepted", "false").Text("reason", refusal));
        return Send(connection, LibraryResult(library::kResultRefused));
    }
    m_log.Write(line.Raw("accepted", "true"));
    connection.state = State::Receiving;
    connection.package = *begin;
    connection.received = 0;
    connection.crc = LibraryCrc32();
    connection.sha256.emplace();
    return Send(connection, LibraryFrame(library::kPackageReady));
}

bool LibraryService::HandleReceiving(Connection& connection, std::uint8_t type,
                                     std::string_view payload)
{
    const auto logPackage = [&](const char* outcome, std::optional<std::uint32_t> sentCrc) {
        JsonLine line = Line("library_package", connection);
        line.Text("name", connection.package.name)
            .Number("size", connection.package.size)
            .Number("received", static_cast<long long>(connection.received))
            .Text("crc32", Crc32Hex(connection.crc.Value()));
        if (sentCrc)
            line.Text("crc32_sent", Crc32Hex(*sentCrc));
        else
            line.Raw("crc32_sent", "null");
        m_log.Write(line.Text("sha256", connection.sha256->FinishHex()).Text("outcome", outcome));
    };

    if (type == library::kPackageData) {
        if (payload.empty() || payload.size() > kLibraryChunkLimit)
            return CloseWith(connection, library::kCloseBadFrame,
                             "PACKAGE_DATA outside 1 to the WELCOME limit");
        if (connection.received + payload.size() > connection.package.size) {
            logPackage("more data than announced", std::nullopt);
            connection.state = State::Ready;
            if (!Send(connection, LibraryResult(library::kResultSize)))
                return false;
            return CloseWith(connection, library::kCloseUnexpected, "data past the size");
        }
        connection.received += payload.size();
        connection.crc.Update(payload);
        connection.sha256->Update(AsBytes(payload));
        return true;
    }
    if (type != library::kPackageEnd)
        return CloseWith(connection, library::kCloseUnexpected, "unexpected message");

    const auto sentCrc = ParseLibraryU32(payload);
    if (!sentCrc)
        return CloseWith(connection, library::kCloseBadFrame, "bad PACKAGE_END");
    connection.state = State::Ready;
    if (connection.received != connection.package.size) {
        logPackage("size mismatch", sentCrc);
        return Send(connection, LibraryResult(library::kResultSize));
    }
    if (*sentCrc != connection.crc.Value()) {
        logPackage("checksum mismatch", sentCrc);
        return Send(connection, LibraryResult(library::kResultChecksum));
    }
    logPackage("installing", sentCrc);
    StartInstall(connection);
    return true;
}

void LibraryService::StartInstall(const Connection& connection)
{
    const std::size_t deviceIndex = connection.device;
    Device& device = m_devices[deviceIndex];
    device.state.libraryInstalling = true;
    const std::int32_t code = device.settings.libraryResult;
    const InstallPlan plan = PlanInstall(device.settings.libraryInstallMs, code);
    const std::uint64_t id = connection.id;
    const std::string peer = connection.peer;
    const std::string mac = FormatMac(device.settings.mac);

    // The installation goes on when the client leaves; its reports then go nowhere.
    const auto sendIfConnected = [this, id](const std::string& frame) {
        Connection* found = m_connections.Find(id);
        if (found != nullptr && found->state != State::Closing)
            Send(*found, frame);
    };
    for (std::size_t k = 0; k < plan.percents.size(); ++k) {
        const std::uint32_t percent = plan.percents[k];
        m_loop.After(std::chrono::milliseconds(plan.intervalMs * k), [=, this] {
            m_log.Write(JsonLine("library_progress")
                            .Text("to", peer)
                            .Text("mac", mac)
                            .Number("percent", percent));
            sendIfConnected(LibraryProgress(percent));
        });
    }
    m_loop.After(
        std::chrono::milliseconds(plan.intervalMs * (plan.percents.size() - 1)), [=, this] {
            m_log.Write(
                JsonLine("library_result").Text("to", peer).Text("mac", mac).Number("code", code));
            sendIfConnected(LibraryResult(code));
            m_devices[deviceIndex].state.libraryInstalling = false;
            if (code != library::kResultInstalled)
                return;
            if (m_onInstalled)
                m_onInstalled(deviceIndex);
            ScheduleRebootClose(id, deviceIndex);
        });
}

void LibraryService::ScheduleRebootClose(std::uint64_t id, std::size_t deviceIndex)
{
    const DeviceSettings& settings = m_devices[deviceIndex].settings;
    if (settings.rebootMs == 0)
        return;
    // Just after the reboot service has taken the device down.
    m_loop.After(std::chrono::milliseconds(settings.rebootDelayMs + 1), [this, id, deviceIndex] {
        Connection* found = m_connections.Find(id);
        if (found == nullptr || found->state == State::Closing ||
            !m_devices[deviceIndex].state.rebooting)
            return;
        m_log.Write(Line("library_dropped", *found).Text("reason", "rebooting"));
        CloseWith(*found, library::kCloseRebooting, "rebooting");
    });
}

bool LibraryService::Send(Connection& connection, std::string_view bytes)
{
    connection.output += bytes;
    return Flush(connection);
}

bool LibraryService::CloseWith(Connection& connection, std::uint32_t reason, std::string_view why)
{
    m_log.Write(Line("library_close", connection)
                    .Text("by", "device")
                    .Number("reason", reason)
                    .Text("why", why));
    connection.output += LibraryClose(reason);
    connection.closeAfterOutput = true;
    connection.state = State::Closing;
    Flush(connection);
    return false;
}

bool LibraryService::Flush(Connection& connection)
{
    const std::uint64_t id = connection.id;
    if (const std::string error = m_connections.Flush(connection); !error.empty()) {
        m_log.Write(Line("send_error", connection).Text("reason", error));
        m_connections.Close(id);
        return false;
    }
    if (!connection.output.empty())
        return true; // the rest goes out when the socket can take it
    if (connection.closeAfterOutput) {
        connection.closeAfterOutput = false;
        // Half-close, so that the CLOSE is read before the end of the stream, and the client's
        // own last bytes do not turn our close into a reset that eats it.
        ::shutdown(connection.socket.Get(), SHUT_WR);
        m_loop.After(kLingerTimeout, [this, id] { m_connections.Close(id); });
    }
    return true;
}

void LibraryService::ScheduleTimeoutCheck(std::uint64_t id, Clock::duration after)
{
    m_loop.After(std::chrono::ceil<std::chrono::milliseconds>(after), [this, id] {
        Connection* found = m_connections.Find(id);
        if (found == nullptr || found->state == State::Closing)
            return;
        Connection& connection = *found;
        const bool greeting =
            connection.state == State::Greeting || connection.state == State::Login;
        const Clock::duration limit =
            greeting ? Clock::duration(kGreetingTimeout) : Clock::duration(kIdleTimeout);
        const auto idle = Clock::now() - connection.lastHeard;
        if (idle < limit) {
            ScheduleTimeoutCheck(id, limit - idle);
            return;
        }
        CloseWith(connection, library::kCloseTimeLimit,
                  greeting ? "no greeting in time" : "nothing heard in time");
    });
}

JsonLine LibraryService::Line(const char* event, const Connection& connection) const
{
    JsonLine line(event);
    line.Text("from", connection.peer)
        .Text("mac", FormatMac(m_devices[connection.device].settings.mac));
    return line;
}

} // namespace devsim
