// Fuzzes the URL splitting and what the client makes of its parts: the timeout row and the
// composed request. Any URL must split within the part buffers, into a host of host characters
// only, and give a request that fits its buffer or none.
#include "http/HttpWire.h"
#include "http/Url.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool IsHostCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const UrlParts parts = ParseUrl(url);

    Check(parts.scheme.size() <= kMaxSchemeLength);
    Check(parts.host.size() <= kMaxHostLength);
    Check(parts.path.size() <= kMaxPathLength);
    for (char c : parts.host)
        Check(IsHostCharacter(c));
    for (char c : parts.scheme)
        Check(!(c >= 'a' && c <= 'z'));
    // The path is taken from the URL as given, never from the upper-cased copy.
    Check(url.find(parts.path) != std::string_view::npos);
    if (url.find(':') == std::string_view::npos)
        Check(parts.scheme == "HTTP" && parts.port == kDefaultHttpPort);

    const int timeout = RequestTimeoutMs(url);
    Check(timeout == kFormatTimeoutMs || timeout == kSlowCgiTimeoutMs ||
          timeout == kDefaultTimeoutMs);

    RequestContent content;
    content.path = parts.path;
    content.host = parts.host;
    content.authToken = "YWRtaW46";
    const auto request = ComposeRequest(content);
    if (request) {
        Check(request->size() < kRequestBufferSize);
        Check(request->compare(0, 4, "GET ") == 0);
        Check(request->size() >= 4 && request->compare(request->size() - 4, 4, "\r\n\r\n") == 0);
    }
    return 0;
}
