// Library-protocol bytes written out by hand from dvsnet/PROTOCOL.md, for the codec's unit tests
// and the DLL's window tests alike. They share no code with the codec, so a mistake in it shows
// instead of being mirrored.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace dvnp_bytes {

using Bytes = std::vector<std::uint8_t>;

// A 32-bit field, least significant byte first.
inline Bytes U32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// A text field: its length in one byte, then its bytes.
inline Bytes Text(const std::string& text)
{
    Bytes bytes(1 + text.size());
    bytes[0] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + 1);
    return bytes;
}

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A whole frame: magic, version 1, type, reserved 0, little-endian payload length, payload.
inline Bytes FrameBytes(std::uint8_t type, const Bytes& payload)
{
    return Cat({Bytes{'D', 'V', 'N', 'P', 1, type, 0, 0},
                U32(static_cast<std::uint32_t>(payload.size())), payload});
}

} // namespace dvnp_bytes
