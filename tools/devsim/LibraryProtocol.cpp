#include "LibraryProtocol.h"

#include <algorithm>

namespace devsim {

namespace {

constexpr std::string_view kMagic = "DVNP";
constexpr unsigned char kVersion = 1;

std::uint32_t LittleEndian32(std::string_view bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

void PutU32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i, value >>= 8)
        out += static_cast<char>(value & 0xFFu);
}

void PutText(std::string& out, std::string_view text, std::size_t limit)
{
    text = text.substr(0, std::min(limit, text.find('\0')));
    out += static_cast<char>(text.size());
    out += text;
}

// Takes texts and numbers off the front of a payload; any shortfall or bad text sticks.
class Cursor {
public:
    explicit Cursor(std::string_view payload) : m_rest(payload) {}

    std::string Text(std::size_t limit)
    {
        if (!m_ok || m_rest.empty())
            return Fail();
        const std::size_t length = static_cast<unsigned char>(m_rest[0]);
        if (length > limit || m_rest.size() < 1 + length)
            return Fail();
        const std::string_view text = m_rest.substr(1, length);
        if (text.find('\0') != std::string_view::npos)
            return Fail();
        m_rest.remove_prefix(1 + length);
        return std::string(text);
    }
    std::uint32_t U32()
    {
        if (!m_ok || m_rest.size() < 4) {
            m_ok = false;
            return 0;
        }
        const std::uint32_t value = LittleEndian32(m_rest);
        m_rest.remove_prefix(4);
        return value;
    }
    bool Done() const { return m_ok && m_rest.empty(); }

private:
    std::string Fail()
    {
        m_ok = false;
        return {};
    }

    std::string_view m_rest;
    bool m_ok = true;
};

} // namespace

LibraryFrameParse ParseLibraryFrame(std::string_view buffer)
{
    LibraryFrameParse parse;
    const auto bad = [&](LibraryFrameParse::State state, std::string error) {
        parse.state = state;
        parse.error = std::move(error);
        return parse;
    };
    const std::size_t magicSeen = std::min(buffer.size(), kMagic.size());
    if (buffer.substr(0, magicSeen) != kMagic.substr(0, magicSeen))
        return bad(LibraryFrameParse::State::BadFrame, "not the frame magic DVNP");
    if (buffer.size() >= 5 && static_cast<unsigned char>(buffer[4]) != kVersion)
        return bad(LibraryFrameParse::State::BadVersion,
                   "version " + std::to_string(static_cast<unsigned char>(buffer[4])));
    if ((buffer.size() >= 7 && buffer[6] != 0) || (buffer.size() >= 8 && buffer[7] != 0))
        return bad(LibraryFrameParse::State::BadFrame, "reserved field not 0");
    if (buffer.size() < kLibraryHeaderSize)
        return parse;
    const std::uint32_t length = LittleEndian32(buffer.substr(8, 4));
    if (length > kLibraryMaxPayload)
        return bad(LibraryFrameParse::State::BadFrame,
                   "payload of " + std::to_string(length) + " bytes");
    if (buffer.size() - kLibraryHeaderSize < length)
        return parse;
    parse.state = LibraryFrameParse::State::Frame;
    parse.type = static_cast<std::uint8_t>(buffer[5]);
    parse.payload = buffer.substr(kLibraryHeaderSize, length);
    parse.consumed = kLibraryHeaderSize + length;
    return parse;
}

std::string LibraryFrame(std::uint8_t type, std::string_view payload)
{
    std::string frame(kMagic);
    frame += static_cast<char>(kVersion);
    frame += static_cast<char>(type);
    frame += '\0';
    frame += '\0';
    PutU32(frame, static_cast<std::uint32_t>(payload.size()));
    frame += payload;
    return frame;
}

std::optional<std::string> ParseHelloLabel(std::string_view payload)
{
    Cursor cursor(payload);
    std::string label = cursor.Text(63);
    if (!cursor.Done())
        return std::nullopt;
    return label;
}

std::optional<LibraryLogin> ParseLibraryLogin(std::string_view payload)
{
    Cursor cursor(payload);
    LibraryLogin login;
    login.user = cursor.Text(39);
    login.password = cursor.Text(39);
    if (!cursor.Done())
        return std::nullopt;
    return login;
}

std::optional<LibraryPackageBegin> ParseLibraryPackageBegin(std::string_view payload)
{
    Cursor cursor(payload);
    LibraryPackageBegin begin;
    begin.size = cursor.U32();
    begin.name = cursor.Text(255);
    if (!cursor.Done())
        return std::nullopt;
    return begin;
}

std::optional<std::uint32_t> ParseLibraryU32(std::string_view payload)
{
    Cursor cursor(payload);
    const std::uint32_t value = cursor.U32();
    if (!cursor.Done())
        return std::nullopt;
    return value;
}

std::string LibraryWelcome(std::uint32_t chunkLimit)
{
    std::string payload;
    PutU32(payload, chunkLimit);
    return LibraryFrame(library::kWelcome, payload);
}

std::string LibraryLoginResult(bool accepted)
{
    return LibraryFrame(library::kLoginResult, std::string(1, accepted ? '\0' : '\1'));
}

std::string LibraryInfo(std::string_view model, std::string_view name, std::string_view firmware,
                        std::uint32_t channels, std::int32_t type)
{
    std::string payload;
    PutText(payload, model, 31);
    PutText(payload, name, 63);
    PutText(payload, firmware, 31);
    PutU32(payload, channels);
    PutU32(payload, static_cast<std::uint32_t>(type));
    return LibraryFrame(library::kInfo, payload);
}

std::string LibraryProgress(std::uint32_t percent)
{
    std::string payload;
    PutU32(payload, std::min<std::uint32_t>(percent, 100));
    return LibraryFrame(library::kProgress, payload);
}

std::string LibraryResult(std::int32_t code)
{
    std::string payload;
    PutU32(payload, static_cast<std::uint32_t>(code));
    return LibraryFrame(library::kResult, payload);
}

std::string LibraryClose(std::uint32_t reason)
{
    std::string payload;
    PutU32(payload, reason);
    return LibraryFrame(library::kClose, payload);
}

void LibraryCrc32::Update(std::string_view bytes)
{
    // Bit by bit: packages on the test LAN are small, and a table would only be another thing
    // to get wrong.
    for (const char c : bytes) {
        m_crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            m_crc = (m_crc >> 1) ^ (0xEDB88320u & (0u - (m_crc & 1u)));
    }
}

InstallPlan PlanInstall(unsigned installMs, std::int32_t result)
{
    constexpr unsigned kMaxIntervalMs = 2000;
    const unsigned steps = std::max(10u, (installMs + kMaxIntervalMs - 1) / kMaxIntervalMs);
    InstallPlan plan;
    plan.intervalMs = installMs / steps;
    const unsigned last = result == library::kResultInstalled ? steps : steps / 2;
    for (unsigned k = 0; k <= last; ++k)
        plan.percents.push_back(k * 100 / steps);
    return plan;
}

std::string Crc32Hex(std::uint32_t crc)
{
    constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(8, '0');
    for (std::size_t i = 8; i-- > 0; crc >>= 4)
        hex[i] = kDigits[crc & 0xFu];
    return hex;
}

} // namespace devsim
