#include "Base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

void Base64Encode(const std::uint8_t* data, std::size_t length, char* out)
{
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const std::uint32_t group = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 |
                                    std::uint32_t{data[i + 2]};
        *out++ = kAlphabet[group >> 18 & 0x3F];
        *out++ = kAlphabet[group >> 12 & 0x3F];
        *out++ = kAlphabet[group >> 6 & 0x3F];
        *out++ = kAlphabet[group & 0x3F];
    }
    const std::size_t rest = length - i;
    if (rest != 0) {
        const std::uint32_t group =
            std::uint32_t{data[i]} << 16 | (rest == 2 ? std::uint32_t{data[i + 1]} << 8 : 0);
        *out++ = kAlphabet[group >> 18 & 0x3F];
        *out++ = kAlphabet[group >> 12 & 0x3F];
        *out++ = rest == 2 ? kAlphabet[group >> 6 & 0x3F] : '=';
        *out++ = '=';
    }
    *out = '\0';
}

std::string Base64Text(std::string_view text)
{
    std::string encoded(Base64EncodedSize(text.size()), '\0');
    Base64Encode(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), encoded.data());
    encoded.pop_back();
    return encoded;
}
