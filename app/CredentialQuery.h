// What the credential check asks a device: the query that suits its kind, and the Basic token.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// By the first of "IPCAMERA", "NVR", "DVR" the model text holds (case-sensitive); empty when it
// holds none, as a decoder's does: such a device has no query to check credentials with.
std::string_view CredentialQueryPath(std::string_view model);

// The token fits a 512-byte buffer with its terminator: 508 characters of base64, so at most
// 381 bytes of "user:password".
constexpr std::size_t kMaxCredentialBytes = 381;

// The base64 of the 8-bit "user:password" text (up to its first NUL); nothing when it is too
// long for the token.
std::optional<std::string> BasicToken(std::string_view userColonPassword);
