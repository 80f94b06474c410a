#include "DottedQuad.h"

#include "LeadingInt.h"

std::uint32_t ParseDottedQuad(std::wstring_view text)
{
    std::uint32_t value = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        std::wstring_view piece;
        if (start <= text.size()) {
            const size_t dot = part < 3 ? text.find(L'.', start) : std::wstring_view::npos;
            piece = text.substr(start, dot == std::wstring_view::npos ? std::wstring_view::npos
                                                                      : dot - start);
            start = dot == std::wstring_view::npos ? text.size() + 1 : dot + 1;
        }
        value = (value << 8) | (static_cast<std::uint32_t>(LeadingInt(piece)) & 0xFFu);
    }
    return value;
}
