// Argument and address parsing.
#include "parse.h"

#include <limits>

namespace wininspect {

std::optional<std::uint64_t> ParseNumber(std::wstring_view text)
{
    bool negative = false;
    if (!text.empty() && text.front() == L'-') {
        negative = true;
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<unsigned>(c - L'0');
        } else if (base == 16 && c >= L'a' && c <= L'f') {
            digit = static_cast<unsigned>(c - L'a' + 10);
        } else if (base == 16 && c >= L'A' && c <= L'F') {
            digit = static_cast<unsigned>(c - L'A' + 10);
        } else {
            return std::nullopt;
        }
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
            return std::nullopt;
        }
        value = value * base + digit;
    }
    return negative ? 0 - value : value;
}

std::optional<std::uint32_t> ParseDottedAddress(std::wstring_view text)
{
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != L'.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        unsigned value = 0;
        size_t digits = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= L'0' && text[digits] <= L'9') {
            value = value * 10 + static_cast<unsigned>(text[digits] - L'0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        text.remove_prefix(digits);
        address = (address << 8) | value;
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    return address;
}

std::wstring DottedAddress(std::uint32_t address)
{
    return std::to_wstring((address >> 24) & 0xFF) + L"." + std::to_wstring((address >> 16) & 0xFF) +
           L"." + std::to_wstring((address >> 8) & 0xFF) + L"." + std::to_wstring(address & 0xFF);
}

} // namespace wininspect
