#include "VersionKey.h"

#include "app/LeadingInt.h"

#include <cstddef>

namespace {

// Positions are signed, -1 meaning "not found", because a failed search must make the next one
// start again at 0 (-1 + 1) rather than at the end.
std::ptrdiff_t FindDot(std::wstring_view text, std::ptrdiff_t from)
{
    const std::size_t found = text.find(L'.', static_cast<std::size_t>(from));
    return found == std::wstring_view::npos ? -1 : static_cast<std::ptrdiff_t>(found);
}

std::uint32_t PartByte(std::wstring_view text, std::ptrdiff_t begin, std::ptrdiff_t end)
{
    if (end < begin)
        return 0;
    const std::wstring_view part =
        text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
    return static_cast<std::uint32_t>(LeadingInt(part)) & 0xFFu;
}

} // namespace

std::uint32_t VersionKey(std::wstring_view text)
{
    const auto length = static_cast<std::ptrdiff_t>(text.size());
    const std::ptrdiff_t dot1 = FindDot(text, 0);
    const std::ptrdiff_t dot2 = FindDot(text, dot1 + 1);
    const std::ptrdiff_t dot3 = FindDot(text, dot2 + 1);
    return PartByte(text, 0, dot1) << 24 | PartByte(text, dot1 + 1, dot2) << 16 |
           PartByte(text, dot2 + 1, dot3) << 8 | PartByte(text, dot3 + 1, length);
}
