// The HTTP exchange with a device's web server as bytes: the request the client composes, its
// timeout, and the reading of the answer into a raw header and a raw body over any source of
// bytes. No socket here, so tests and the fuzzer can feed the readers directly.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// ----- Timeout -----

constexpr int kFormatTimeoutMs = 60'000;
constexpr int kSlowCgiTimeoutMs = 20'000;
constexpr int kDefaultTimeoutMs = 1'000;

// The send and receive timeout for a URL, by case-sensitive substrings. Formatting a device's
// SD card answers only when it is done, so it gets a minute; other SD and time-sync calls are
// slow too. The format row must be tested first: it also contains "vb.htm?sd".
int RequestTimeoutMs(std::string_view url);

// ----- Request -----

// The request is composed in a buffer of this size, so it holds at most kRequestBufferSize - 1
// bytes (request line, header lines, empty line and body together).
constexpr std::size_t kRequestBufferSize = 4096;

struct RequestContent {
    // From the URL: the path with its query ("" sends "/"), the host without its port.
    std::string_view path;
    std::string_view host;
    // Placed after "Authorization: Basic "; null counts as empty.
    const char* authToken = nullptr;
    // Appended verbatim after the Host line when not null and not empty; each line must already
    // end with CR LF.
    const char* extraHeaders = nullptr;
    // Present: the method is POST and the body is this text, at most contentLength bytes, ending
    // early at a NUL byte. Null: GET without a body.
    const char* postData = nullptr;
    // Sent as a Content-Length line whenever it is not 0, whatever the body came to.
    std::int32_t contentLength = 0;
};

// The request byte for byte, or nothing when it would not fit the request buffer.
std::optional<std::string> ComposeRequest(const RequestContent& content);

// ----- Reading the answer -----

// Where the answer's bytes come from: a connected socket in the program, scripted bytes in tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Receives up to `capacity` (at least 1) bytes: the count, 0 when the peer has closed, a
    // negative value on an error or when nothing arrived within the receive timeout.
    virtual int Receive(char* buffer, int capacity) = 0;
    // The clock the phase deadlines are measured with.
    virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
};

// Hands out the given bytes, at most `maxPerReceive` per call, then reports the end: the peer
// closing (0) or an error such as a reset (-1), from then on at every call.
class MemorySource : public ByteSource {
public:
    enum class End { Close, Error };
    explicit MemorySource(std::string_view bytes, int maxPerReceive = 1 << 30,
                          End end = End::Close);
    int Receive(char* buffer, int capacity) override;
    std::size_t Consumed() const { return m_next; }

private:
    std::string m_bytes;
    std::size_t m_next = 0;
    int m_maxPerReceive;
    End m_end;
};

// A heap buffer for text received: it starts at 1,024 bytes with the first byte and doubles
// whenever the bytes held and the bytes to come would not leave room for a closing NUL, but never
// beyond `maxSize`; so it holds at most maxSize - 1 bytes.
class ReceiveBuffer {
public:
    static constexpr std::size_t kInitialSize = 1024;
    explicit ReceiveBuffer(std::size_t maxSize);

    std::size_t Size() const { return m_size; }
    std::size_t Capacity() const { return m_capacity; }
    // Bytes that can still be appended within maxSize.
    std::size_t Room() const { return m_maxSize - 1 - m_size; }
    std::string_view View() const
    {
        return m_data ? std::string_view(m_data.get(), m_size) : std::string_view();
    }
    // Appends up to Room() bytes; returns how many were taken.
    std::size_t Append(const char* bytes, std::size_t count);
    // The bytes held followed by a NUL; the buffer starts over empty afterwards.
    std::unique_ptr<char[]> Release();

private:
    std::unique_ptr<char[]> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    std::size_t m_maxSize;
};

// A device keeps a reply small, so these bounds only stop a broken or hostile peer. A peer that
// trickles bytes just faster than the receive timeout would otherwise hold the caller (the UI
// thread, for the credential check) for as long as it likes; the phase budget ends each phase
// after kPhaseBudgetTimeouts receive timeouts in all. The header buffer stays within 64 KiB
// (header at most 65,535 bytes), the body buffer within 4 MiB (body at most 4,194,303 bytes).
constexpr std::size_t kMaxHeaderBufferSize = 64 * 1024;
constexpr std::size_t kMaxBodyBufferSize = 4 * 1024 * 1024;
constexpr int kPhaseBudgetTimeouts = 8;
// The body is received in chunks of at most this many bytes.
constexpr int kBodyChunkSize = 2047;

struct ReadLimits {
    std::size_t maxHeaderBufferSize = kMaxHeaderBufferSize;
    std::size_t maxBodyBufferSize = kMaxBodyBufferSize;
    // No receive is started once this much time has passed since the phase began; as one
    // receive waits at most one timeout, a phase lasts at most budget + one timeout.
    std::chrono::milliseconds phaseBudget{kPhaseBudgetTimeouts * kDefaultTimeoutMs};
};

// The default limits with a phase budget of kPhaseBudgetTimeouts x `timeoutMs`.
ReadLimits ReadLimitsForTimeout(int timeoutMs);

enum class HeaderEnd {
    EmptyLine, // a line that was empty or held only CR; its LF is the header's last byte
    Silence,   // the peer closed, failed or sent nothing within the receive timeout
    Full,      // the header filled its buffer without an empty line
    Deadline,  // the phase budget ran out
};

enum class BodyEnd {
    Silence,  // the peer closed, failed or sent nothing within the receive timeout
    Full,     // the body filled its buffer; the rest is not read
    Deadline, // the phase budget ran out
};

// Reads one byte per receive, so nothing after the empty line is taken from the source. A line's
// count of characters other than CR and LF decides: LF after none ends the header, which makes
// LF-only lines work as well as CR LF.
HeaderEnd ReadHeader(ByteSource& source, ReceiveBuffer& header,
                     std::chrono::milliseconds phaseBudget);

// Reads chunks until the peer ends, the buffer is full or the budget runs out. Content-Length
// and transfer or content coding are not looked at.
BodyEnd ReadBody(ByteSource& source, ReceiveBuffer& body, std::chrono::milliseconds phaseBudget);

struct ResponseBytes {
    ReceiveBuffer header;
    ReceiveBuffer body;
    HeaderEnd headerEnd = HeaderEnd::Silence;
    BodyEnd bodyEnd = BodyEnd::Silence;
};

// The header, then the body. A header cut by its buffer or its budget never ended, so what comes
// after it is no body: the body phase is skipped and the body stays empty, which also keeps such
// a peer from holding the caller for a second phase.
ResponseBytes ReadResponse(ByteSource& source, const ReadLimits& limits);
