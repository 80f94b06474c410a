#include "Base64.h"

#include <cstdint>

namespace devsim {

namespace {

int SextetOf(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::optional<std::string> DecodeBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (text.ends_with("=="))
        padding = 2;
    else if (text.ends_with('='))
        padding = 1;

    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t group = 0; group < text.size(); group += 4) {
        const bool last = group + 4 == text.size();
        const std::size_t digits = last ? 4 - padding : 4;
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            int sextet = 0;
            if (i < digits) {
                sextet = SextetOf(text[group + i]);
                if (sextet < 0)
                    return std::nullopt;
            }
            bits = bits << 6 | static_cast<std::uint32_t>(sextet);
        }
        // Two digits carry one byte and four spare bits, three carry two bytes and two spare.
        const std::size_t count = digits - 1;
        if (count < 3 && (bits & ((1u << (8 * (3 - count))) - 1)) != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < count; ++i)
            bytes += static_cast<char>(bits >> (16 - 8 * i) & 0xFFu);
    }
    return bytes;
}

} // namespace devsim
