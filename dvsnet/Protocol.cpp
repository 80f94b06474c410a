#include "dvsnet/Protocol.h"

#include <algorithm>
#include <type_traits>

namespace dvsnet {

namespace {

std::uint32_t ReadU32(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// Reads a payload front to back and remembers the first failure, so that a message is decoded
// with plain sequential reads and checked once at the end.
class PayloadReader {
public:
    explicit PayloadReader(std::span<const std::uint8_t> payload) : m_rest(payload) {}

    std::uint8_t U8()
    {
        if (!Take(1))
            return 0;
        return m_taken[0];
    }
    std::uint32_t U32()
    {
        if (!Take(4))
            return 0;
        return ReadU32(m_taken.data());
    }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    std::string Text(std::size_t maxLength)
    {
        const std::size_t length = U8();
        if (length > maxLength)
            m_failed = true;
        if (m_failed || !Take(length))
            return {};
        if (std::find(m_taken.begin(), m_taken.end(), std::uint8_t{0}) != m_taken.end()) {
            m_failed = true;
            return {};
        }
        return std::string(m_taken.begin(), m_taken.end());
    }
    void Fail() { m_failed = true; }
    // Every byte read, and nothing went wrong.
    bool Finished() const { return !m_failed && m_rest.empty(); }

private:
    bool Take(std::size_t count)
    {
        if (m_failed || m_rest.size() < count) {
            m_failed = true;
            return false;
        }
        m_taken = m_rest.first(count);
        m_rest = m_rest.subspan(count);
        return true;
    }

    std::span<const std::uint8_t> m_rest;
    std::span<const std::uint8_t> m_taken;
    bool m_failed = false;
};

// Builds a payload and remembers whether every field kept within its bounds.
class PayloadWriter {
public:
    void U8(std::uint8_t value) { m_bytes.push_back(value); }
    void U32(std::uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8)
            m_bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
    void Text(const std::string& text, std::size_t maxLength)
    {
        if (text.size() > maxLength || text.find('\0') != std::string::npos) {
            m_valid = false;
            return;
        }
        U8(static_cast<std::uint8_t>(text.size()));
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    }
    void Check(bool condition) { m_valid = m_valid && condition; }

    bool Valid() const { return m_valid; }
    const Bytes& Payload() const { return m_bytes; }
    Bytes& Payload() { return m_bytes; }

private:
    Bytes m_bytes;
    bool m_valid = true;
};

void Write(PayloadWriter& out, const Hello& m)
{
    out.Text(m.label, kMaxLabel);
}
void Write(PayloadWriter& out, const Welcome& m)
{
    out.Check(m.maxChunk >= kMinChunkLimit && m.maxChunk <= kMaxPayload);
    out.U32(m.maxChunk);
}
void Write(PayloadWriter& out, const Login& m)
{
    out.Text(m.user, kMaxCredential);
    out.Text(m.password, kMaxCredential);
}
void Write(PayloadWriter& out, const LoginResult& m)
{
    out.U8(m.accepted ? 0 : 1);
}
void Write(PayloadWriter& out, const Info& m)
{
    out.Text(m.model, kMaxModel);
    out.Text(m.name, kMaxName);
    out.Text(m.firmware, kMaxFirmware);
    out.U32(m.channels);
    out.I32(m.deviceType);
}
void Write(PayloadWriter& out, const PackageBegin& m)
{
    out.U32(m.size);
    out.Text(m.name, kMaxPackageName);
}
void Write(PayloadWriter& out, const PackageData& m)
{
    out.Check(!m.bytes.empty() && m.bytes.size() <= kMaxPayload);
    out.Payload() = m.bytes;
}
void Write(PayloadWriter& out, const PackageEnd& m)
{
    out.U32(m.crc32);
}
void Write(PayloadWriter& out, const Progress& m)
{
    out.Check(m.percent <= 100);
    out.U32(m.percent);
}
void Write(PayloadWriter& out, const Result& m)
{
    out.I32(m.code);
}
void Write(PayloadWriter& out, const Close& m)
{
    const auto reason = static_cast<std::uint32_t>(m.reason);
    out.Check(reason <= kMaxCloseReason);
    out.U32(reason);
}
// InfoRequest, PackageReady, Ping, Pong: no payload.
template <typename Empty> void Write(PayloadWriter&, const Empty&) {}

std::optional<Message> Read(PayloadReader& in, MessageType type)
{
    switch (type) {
    case MessageType::Hello:
        return Hello{in.Text(kMaxLabel)};
    case MessageType::Welcome: {
        const std::uint32_t maxChunk = in.U32();
        if (maxChunk < kMinChunkLimit || maxChunk > kMaxPayload)
            in.Fail();
        return Welcome{maxChunk};
    }
    case MessageType::Login: {
        Login login;
        login.user = in.Text(kMaxCredential);
        login.password = in.Text(kMaxCredential);
        return login;
    }
    case MessageType::LoginResult: {
        const std::uint8_t status = in.U8();
        if (status > 1)
            in.Fail();
        return LoginResult{status == 0};
    }
    case MessageType::InfoRequest:
        return InfoRequest{};
    case MessageType::Info: {
        Info info;
        info.model = in.Text(kMaxModel);
        info.name = in.Text(kMaxName);
        info.firmware = in.Text(kMaxFirmware);
        info.channels = in.U32();
        info.deviceType = in.I32();
        return info;
    }
    case MessageType::PackageBegin: {
        PackageBegin begin;
        begin.size = in.U32();
        begin.name = in.Text(kMaxPackageName);
        return begin;
    }
    case MessageType::PackageReady:
        return PackageReady{};
    case MessageType::PackageData:
        break; // the payload is the data; handled by the caller
    case MessageType::PackageEnd:
        return PackageEnd{in.U32()};
    case MessageType::Progress: {
        const std::uint32_t percent = in.U32();
        if (percent > 100)
            in.Fail();
        return Progress{percent};
    }
    case MessageType::Result:
        return Result{in.I32()};
    case MessageType::Ping:
        return Ping{};
    case MessageType::Pong:
        return Pong{};
    case MessageType::Close: {
        const std::uint32_t reason = in.U32();
        if (reason > kMaxCloseReason)
            in.Fail();
        return Close{static_cast<CloseReason>(reason)};
    }
    }
    return std::nullopt;
}

constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

} // namespace

FrameView DecodeFrame(std::span<const std::uint8_t> bytes)
{
    FrameView view;
    const auto fail = [&view](FrameError error) {
        view.status = FrameStatus::Error;
        view.error = error;
        return view;
    };
    for (std::size_t i = 0; i < kMagic.size() && i < bytes.size(); ++i)
        if (bytes[i] != kMagic[i])
            return fail(FrameError::Magic);
    if (bytes.size() > 4 && bytes[4] != kVersion)
        return fail(FrameError::Version);
    if (bytes.size() > 5)
        view.type = bytes[5];
    for (std::size_t i = 6; i < 8 && i < bytes.size(); ++i)
        if (bytes[i] != 0)
            return fail(FrameError::Reserved);
    // The length is the header's last field: it is judged once the whole header is there.
    if (bytes.size() < kHeaderSize)
        return view;
    const std::uint32_t length = ReadU32(bytes.data() + 8);
    if (length > kMaxPayload)
        return fail(FrameError::Length);
    if (bytes.size() - kHeaderSize < length)
        return view;
    view.status = FrameStatus::Complete;
    view.consumed = kHeaderSize + length;
    view.payload = bytes.subspan(kHeaderSize, length);
    return view;
}

Bytes EncodeFrame(MessageType type, std::span<const std::uint8_t> payload)
{
    Bytes frame(kMagic.begin(), kMagic.end());
    frame.push_back(kVersion);
    frame.push_back(static_cast<std::uint8_t>(type));
    frame.push_back(0);
    frame.push_back(0);
    const auto length = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8)
        frame.push_back(static_cast<std::uint8_t>(length >> shift));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

MessageType TypeOf(const Message& message)
{
    return static_cast<MessageType>(message.index() + 1);
}

std::optional<Bytes> EncodeMessage(const Message& message)
{
    PayloadWriter out;
    std::visit([&out](const auto& m) { Write(out, m); }, message);
    if (!out.Valid())
        return std::nullopt;
    return EncodeFrame(TypeOf(message), out.Payload());
}

std::optional<Message> DecodeMessage(std::uint8_t type, std::span<const std::uint8_t> payload)
{
    if (type < 1 || type > std::variant_size_v<Message> || payload.size() > kMaxPayload)
        return std::nullopt;
    const auto messageType = static_cast<MessageType>(type);
    if (messageType == MessageType::PackageData) {
        if (payload.empty())
            return std::nullopt;
        return PackageData{Bytes(payload.begin(), payload.end())};
    }
    PayloadReader in(payload);
    std::optional<Message> message = Read(in, messageType);
    if (!message || !in.Finished())
        return std::nullopt;
    return message;
}

void Crc32::Update(std::span<const std::uint8_t> bytes)
{
    std::uint32_t state = m_state;
    for (const std::uint8_t byte : bytes)
        state = kCrcTable[(state ^ byte) & 0xFFu] ^ (state >> 8);
    m_state = state;
}

std::uint32_t Crc32Of(std::span<const std::uint8_t> bytes)
{
    Crc32 crc;
    crc.Update(bytes);
    return crc.Value();
}

std::int32_t TransferPercent(std::uint32_t sent, std::uint32_t total)
{
    if (total == 0 || sent >= total)
        return 90;
    return static_cast<std::int32_t>(std::uint64_t{sent} * 90 / total);
}

std::int32_t InstallPercent(std::uint32_t devicePercent)
{
    return 90 + static_cast<std::int32_t>(std::min<std::uint32_t>(devicePercent, 100) * 9 / 100);
}

} // namespace dvsnet
