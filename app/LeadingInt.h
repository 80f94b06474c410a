// The number at the start of a text, read the way the C runtime's atoi reads it. Port fields,
// type numbers and address parts all go through this one rule.
#pragma once

#include <cstdint>
#include <string_view>

// Leading white space is skipped, then an optional sign and the decimal digits up to the first
// other character; no digits give 0. Values beyond the 32-bit range stop at its ends.
std::int32_t LeadingInt(std::wstring_view text);
