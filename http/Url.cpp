#include "Url.h"

#include <algorithm>
#include <limits>

namespace {

// Only ASCII letters change, as with the C runtime in its default locale.
char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsHostCharacter(char upper)
{
    return (upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9') || upper == '-' ||
           upper == '.' || upper == ':';
}

// atoi's reading of the text after the port colon: an optional sign and the digits up to the
// first other character; values beyond the 32-bit range stop at its ends, as the Windows
// runtime's atoi does.
std::int32_t LeadingNumber(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

} // namespace

UrlParts ParseUrl(std::string_view url)
{
    std::string upper(url);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpperAscii);

    UrlParts parts;
    std::size_t scan = 0;
    const std::size_t colon = upper.find(':');
    if (colon == std::string::npos) {
        parts.scheme = "HTTP";
    } else {
        parts.scheme = upper.substr(0, std::min(colon, kMaxSchemeLength));
        scan = colon + 1;
    }
    if (upper.compare(scan, 2, "//") == 0)
        scan += 2;

    std::size_t hostEnd = scan;
    while (hostEnd < upper.size() && IsHostCharacter(upper[hostEnd]))
        ++hostEnd;
    std::string_view host = std::string_view(upper).substr(scan, hostEnd - scan);
    host = host.substr(0, kMaxHostLength);
    parts.path = std::string(url.substr(hostEnd, kMaxPathLength));

    const std::size_t portColon = host.find(':');
    if (portColon != std::string_view::npos) {
        parts.port = LeadingNumber(host.substr(portColon + 1));
        host = host.substr(0, portColon);
    }
    parts.host = std::string(host);
    return parts;
}
