// Dotted IPv4 texts as the list rows show them, turned into the 32-bit values the IP address
// controls hold: first octet in the most significant byte.
#pragma once

#include <cstdint>
#include <string_view>

// Each part is read with LeadingInt and keeps only its low 8 bits (256 gives 0, 300 gives 44).
// A text with fewer than three dots gives 0 for the parts it lacks; empty text gives 0.
std::uint32_t ParseDottedQuad(std::wstring_view text);
