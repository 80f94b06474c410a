// Fuzzes the reading of a device's answer over a scripted source. The first bytes of the input
// choose how the bytes arrive (bytes per receive, how the peer ends, scripted time per receive),
// the phase budget and the buffer limits; the rest is what the peer sends. Whatever arrives, the
// header and the body must be the bytes received in order, within their limits, split where the
// rules say.
#include "http/HttpWire.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Hands out the stream in chunks, with scripted time passing at every receive.
class ScriptedSource : public ByteSource {
public:
    ScriptedSource(std::string_view bytes, int perReceive, bool failsAtEnd,
                   std::chrono::milliseconds step)
        : m_bytes(bytes), m_perReceive(perReceive), m_failsAtEnd(failsAtEnd), m_step(step)
    {}
    int Receive(char* buffer, int capacity) override
    {
        Check(capacity >= 1 && capacity <= kBodyChunkSize);
        m_now += m_step;
        if (m_next == m_bytes.size())
            return m_failsAtEnd ? -1 : 0;
        const std::size_t count =
            std::min<std::size_t>({m_bytes.size() - m_next, static_cast<std::size_t>(capacity),
                                   static_cast<std::size_t>(m_perReceive)});
        std::copy_n(m_bytes.data() + m_next, count, buffer);
        m_next += count;
        return static_cast<int>(count);
    }
    std::chrono::steady_clock::time_point Now() override { return m_now; }
    std::size_t Consumed() const { return m_next; }

private:
    std::string_view m_bytes;
    int m_perReceive;
    bool m_failsAtEnd;
    std::chrono::milliseconds m_step;
    std::size_t m_next = 0;
    std::chrono::steady_clock::time_point m_now{};
};

// True when the header's last line holds nothing but CRs and no earlier line does.
bool EndsAtFirstEmptyLine(std::string_view header)
{
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] != '\n')
            continue;
        const std::string_view line = header.substr(lineStart, i - lineStart);
        const bool empty = line.find_first_not_of('\r') == std::string_view::npos;
        if (empty != (i + 1 == header.size()))
            return false;
        lineStart = i + 1;
    }
    return lineStart == header.size() && !header.empty();
}

bool HasEmptyLine(std::string_view header)
{
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] != '\n')
            continue;
        if (header.substr(lineStart, i - lineStart).find_first_not_of('\r') ==
            std::string_view::npos)
            return true;
        lineStart = i + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const int perReceive = 1 + data[0] % 64 * (data[0] & 0x80 ? 64 : 1);
    const bool failsAtEnd = data[1] & 1;
    const std::chrono::milliseconds step((data[1] >> 1) * 50);
    ReadLimits limits;
    // Small limits now and then, so that the caps are reached with short inputs.
    if (data[2] & 1)
        limits.maxHeaderBufferSize = 1 + data[2];
    if (data[2] & 2)
        limits.maxBodyBufferSize = 1 + data[3] * 4;
    limits.phaseBudget = std::chrono::milliseconds(data[3] * 100);
    const std::string_view stream(reinterpret_cast<const char*>(data + 4), size - 4);

    ScriptedSource source(stream, perReceive, failsAtEnd, step);
    ResponseBytes response = ReadResponse(source, limits);
    const std::string_view header = response.header.View();
    const std::string_view body = response.body.View();

    // Everything received is kept, in order, and nothing else.
    Check(header.size() + body.size() == source.Consumed());
    Check(stream.substr(0, header.size()) == header);
    Check(stream.substr(header.size(), body.size()) == body);
    Check(header.size() < limits.maxHeaderBufferSize);
    Check(body.size() < limits.maxBodyBufferSize);
    Check(response.header.Capacity() <= limits.maxHeaderBufferSize);
    Check(response.body.Capacity() <= limits.maxBodyBufferSize);

    switch (response.headerEnd) {
    case HeaderEnd::EmptyLine:
        Check(EndsAtFirstEmptyLine(header));
        break;
    case HeaderEnd::Full:
        Check(header.size() == limits.maxHeaderBufferSize - 1 && !HasEmptyLine(header));
        Check(body.empty());
        break;
    case HeaderEnd::Deadline:
        Check(!HasEmptyLine(header) && body.empty());
        break;
    case HeaderEnd::Silence:
        Check(header.size() == stream.size() && body.empty() && !HasEmptyLine(header));
        break;
    }
    if (response.headerEnd == HeaderEnd::EmptyLine && response.bodyEnd == BodyEnd::Silence)
        Check(source.Consumed() == stream.size());
    if (response.bodyEnd == BodyEnd::Full)
        Check(body.size() == limits.maxBodyBufferSize - 1);

    const std::size_t bodySize = body.size();
    const auto text = response.body.Release();
    Check(text[bodySize] == '\0');
    return 0;
}
