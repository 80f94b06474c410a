// The sort key of a dotted firmware version such as 4.1.46.5, so that the device list orders
// firmware by number and not by text. Portable: no window is needed to rank two versions.
#pragma once

#include <cstdint>
#include <string_view>

// Four dot-separated parts packed one byte each, the first in the highest byte. Each part is read
// with the leading-number rule and keeps only its low 8 bits, so 4.1.256.0 ranks with 4.1.0.0.
// Texts with fewer than three dots keep the established ranking: a dot search that fails makes the
// next one start again at the beginning, so "12" is the key 12 and "4.1" gives the parts 4,
// (empty), 4 and 1.
std::uint32_t VersionKey(std::wstring_view text);
