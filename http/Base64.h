// Base64 for the Basic-authorization token the devices' web servers expect ("user:password" in
// the ANSI code page, encoded). Standard alphabet with "=" padding, never a line break.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes Base64Encode writes for `length` input bytes, the closing NUL included.
constexpr std::size_t Base64EncodedSize(std::size_t length)
{
    return (length + 2) / 3 * 4 + 1;
}

// Encodes `length` bytes at `data` into `out` and closes the text with a NUL. `out` must hold
// Base64EncodedSize(length) bytes. A length of 0 gives the empty text.
void Base64Encode(const std::uint8_t* data, std::size_t length, char* out);

// The same encoding of the bytes of `text`, as a string.
std::string Base64Text(std::string_view text);
