#include "UpgradeProtocol.h"

#include <algorithm>
#include <charconv>

namespace devsim {

namespace {

constexpr std::string_view kCommandLine = "CMD:UPGRADE MCTP/1.0 CS";
constexpr std::string_view kEndLine = "END";

} // namespace

StreamKind ClassifyStream(std::string_view received)
{
    const std::size_t compared = std::min(received.size(), kUpgradeMarker.size());
    if (received.substr(0, compared) != kUpgradeMarker.substr(0, compared))
        return StreamKind::Http;
    return compared == kUpgradeMarker.size() ? StreamKind::Upgrade : StreamKind::Undecided;
}

UpgradeCommand ParseUpgradeCommand(std::string_view received)
{
    UpgradeCommand command;
    const auto fail = [&](std::size_t consumed, std::string error) {
        command.state = UpgradeCommand::State::Error;
        command.consumed = consumed;
        command.error = std::move(error);
        return command;
    };
    std::string_view lines[3];
    std::size_t position = 0;
    for (std::string_view& line : lines) {
        const std::size_t end = received.find('\n', position);
        if (end == std::string_view::npos) {
            if (received.size() >= kMaxUpgradeCommand)
                return fail(received.size(), "no complete command in " +
                                                 std::to_string(kMaxUpgradeCommand) + " bytes");
            return command;
        }
        line = received.substr(position, end - position);
        position = end + 1;
    }
    if (lines[0] != kCommandLine)
        return fail(position, "first line is not \"CMD:UPGRADE MCTP/1.0 CS\"");
    const std::string_view sizeLine = lines[1];
    std::uint32_t size = 0;
    bool sizeRead = sizeLine.size() >= 3 && sizeLine.front() == '@' && sizeLine.back() == '@' &&
                    sizeLine[1] >= '0' && sizeLine[1] <= '9';
    if (sizeRead) {
        const char* digitsEnd = sizeLine.data() + sizeLine.size() - 1;
        const auto [end, error] = std::from_chars(sizeLine.data() + 1, digitsEnd, size);
        sizeRead = error == std::errc{} && end == digitsEnd;
    }
    if (!sizeRead)
        return fail(position, "second line is not @<size>@ with a size below 2^32");
    if (lines[2] != kEndLine)
        return fail(position, "third line is not \"END\"");
    command.state = UpgradeCommand::State::Complete;
    command.consumed = position;
    command.size = size;
    return command;
}

bool SendsSizeField(std::int32_t deviceType)
{
    return deviceType >= 200 && deviceType <= 299;
}

std::optional<std::string> FinalAnswer(const DeviceSettings& settings)
{
    const std::string code = std::to_string(settings.upgradeResult);
    switch (settings.upgradeFinal) {
    case UpgradeFinal::Normal:
        return '@' + code + '@';
    case UpgradeFinal::None:
        return std::nullopt;
    case UpgradeFinal::Half:
        return '@' + code;
    case UpgradeFinal::Garbage:
        break;
    }
    return "result=" + code + '\n';
}

UpgradeReceiver::UpgradeReceiver(std::uint32_t size, bool sizeField)
    : m_size(size), m_phase(sizeField ? Phase::SizeField : Phase::Package)
{}

UpgradeReceiver::Progress UpgradeReceiver::Feed(std::span<const std::uint8_t> bytes)
{
    Progress progress;
    if (m_phase == Phase::SizeField) {
        const std::size_t take = std::min(bytes.size(), 4 - m_sizeBytesReceived);
        std::copy_n(bytes.begin(), take, m_sizeBytes + m_sizeBytesReceived);
        m_sizeBytesReceived += take;
        bytes = bytes.subspan(take);
        if (m_sizeBytesReceived < 4)
            return progress;
        progress.sizeField = std::uint32_t{m_sizeBytes[0]} | std::uint32_t{m_sizeBytes[1]} << 8 |
                             std::uint32_t{m_sizeBytes[2]} << 16 |
                             std::uint32_t{m_sizeBytes[3]} << 24;
        m_phase = Phase::Package;
    }
    if (m_phase == Phase::Package) {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_size - m_received));
        m_hash.Update(bytes.first(take));
        m_received += take;
        bytes = bytes.subspan(take);
        if (m_received == m_size) {
            m_phase = Phase::Done;
            m_sha256 = m_hash.FinishHex();
            progress.packageComplete = true;
        }
    }
    m_extra += bytes.size();
    return progress;
}

} // namespace devsim
