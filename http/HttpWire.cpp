#include "HttpWire.h"

#include <algorithm>
#include <cstring>

int RequestTimeoutMs(std::string_view url)
{
    struct Row {
        std::string_view marker;
        int timeoutMs;
    };
    static constexpr Row kRows[] = {
        {"vb.htm?sdformat=1", kFormatTimeoutMs},
        {"timefrequency=-1", kSlowCgiTimeoutMs},
        {"vb.htm?sd", kSlowCgiTimeoutMs},
    };
    for (const Row& row : kRows) {
        if (url.find(row.marker) != std::string_view::npos)
            return row.timeoutMs;
    }
    return kDefaultTimeoutMs;
}

std::optional<std::string> ComposeRequest(const RequestContent& content)
{
    std::string_view body;
    if (content.postData != nullptr && content.contentLength > 0) {
        const auto limit = static_cast<std::size_t>(content.contentLength);
        const void* nul = std::memchr(content.postData, '\0', limit);
        body = std::string_view(content.postData,
                                nul ? static_cast<const char*>(nul) - content.postData : limit);
    }

    std::string request;
    request += content.postData != nullptr ? "POST " : "GET ";
    request += content.path.empty() ? std::string_view("/") : content.path;
    request += " HTTP/1.1\r\n";
    request += "Accept: */*\r\n";
    request += "Accept-Language: en-us\r\n";
    request += "Accept-Encoding: gzip, default\r\n";
    request += "User-Agent: http client\r\n";
    request += "Authorization: Basic ";
    if (content.authToken != nullptr)
        request += content.authToken;
    request += "\r\n";
    if (content.contentLength != 0) {
        request += "Content-Length: ";
        request += std::to_string(content.contentLength);
        request += "\r\n";
    }
    request += "Host: ";
    request += content.host;
    request += "\r\n";
    if (content.extraHeaders != nullptr)
        request += content.extraHeaders;
    request += "\r\n";
    request += body;

    // The request buffer has always been 4,096 bytes; a longer request would have overrun it.
    // It is refused whole rather than cut, before any connection is made.
    if (request.size() > kRequestBufferSize - 1)
        return std::nullopt;
    return request;
}

MemorySource::MemorySource(std::string_view bytes, int maxPerReceive, End end)
    : m_bytes(bytes), m_maxPerReceive(std::max(maxPerReceive, 1)), m_end(end)
{}

int MemorySource::Receive(char* buffer, int capacity)
{
    const std::size_t left = m_bytes.size() - m_next;
    if (left == 0)
        return m_end == End::Close ? 0 : -1;
    const std::size_t count = std::min({left, static_cast<std::size_t>(std::max(capacity, 0)),
                                        static_cast<std::size_t>(m_maxPerReceive)});
    std::memcpy(buffer, m_bytes.data() + m_next, count);
    m_next += count;
    return static_cast<int>(count);
}

ReceiveBuffer::ReceiveBuffer(std::size_t maxSize) : m_maxSize(std::max<std::size_t>(maxSize, 1)) {}

std::size_t ReceiveBuffer::Append(const char* bytes, std::size_t count)
{
    count = std::min(count, Room());
    if (count == 0)
        return 0;
    std::size_t capacity = m_data ? m_capacity : std::min(kInitialSize, m_maxSize);
    while (m_size + count >= capacity)
        capacity = std::min(capacity * 2, m_maxSize);
    if (!m_data || capacity != m_capacity) {
        auto grown = std::make_unique<char[]>(capacity);
        if (m_size != 0)
            std::memcpy(grown.get(), m_data.get(), m_size);
        m_data = std::move(grown);
        m_capacity = capacity;
    }
    std::memcpy(m_data.get() + m_size, bytes, count);
    m_size += count;
    return count;
}

std::unique_ptr<char[]> ReceiveBuffer::Release()
{
    if (!m_data)
        m_data = std::make_unique<char[]>(1);
    m_data[m_size] = '\0';
    m_size = 0;
    m_capacity = 0;
    return std::move(m_data);
}

ReadLimits ReadLimitsForTimeout(int timeoutMs)
{
    ReadLimits limits;
    limits.phaseBudget = std::chrono::milliseconds(std::int64_t{kPhaseBudgetTimeouts} * timeoutMs);
    return limits;
}

HeaderEnd ReadHeader(ByteSource& source, ReceiveBuffer& header,
                     std::chrono::milliseconds phaseBudget)
{
    const auto start = source.Now();
    std::size_t lineCount = 0;
    for (;;) {
        if (header.Room() == 0)
            return HeaderEnd::Full;
        if (source.Now() - start >= phaseBudget)
            return HeaderEnd::Deadline;
        char byte = 0;
        if (source.Receive(&byte, 1) <= 0)
            return HeaderEnd::Silence;
        header.Append(&byte, 1);
        if (byte == '\n') {
            if (lineCount == 0)
                return HeaderEnd::EmptyLine;
            lineCount = 0;
        } else if (byte != '\r') {
            ++lineCount;
        }
    }
}

BodyEnd ReadBody(ByteSource& source, ReceiveBuffer& body, std::chrono::milliseconds phaseBudget)
{
    const auto start = source.Now();
    char chunk[kBodyChunkSize];
    for (;;) {
        if (body.Room() == 0)
            return BodyEnd::Full;
        if (source.Now() - start >= phaseBudget)
            return BodyEnd::Deadline;
        // Never take more than the buffer can keep, so nothing received is thrown away.
        const int wanted = static_cast<int>(std::min<std::size_t>(kBodyChunkSize, body.Room()));
        const int count = source.Receive(chunk, wanted);
        if (count <= 0)
            return BodyEnd::Silence;
        body.Append(chunk, static_cast<std::size_t>(std::min(count, wanted)));
    }
}

ResponseBytes ReadResponse(ByteSource& source, const ReadLimits& limits)
{
    ResponseBytes response{ReceiveBuffer(limits.maxHeaderBufferSize),
                           ReceiveBuffer(limits.maxBodyBufferSize)};
    response.headerEnd = ReadHeader(source, response.header, limits.phaseBudget);
    if (response.headerEnd == HeaderEnd::EmptyLine || response.headerEnd == HeaderEnd::Silence)
        response.bodyEnd = ReadBody(source, response.body, limits.phaseBudget);
    return response;
}
