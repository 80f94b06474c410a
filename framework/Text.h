// The one boundary between the windows' UTF-16 text and the 8-bit text in the system's ANSI code
// page that the devices and the device library speak.
#pragma once

#include <string>
#include <string_view>

namespace fw {

// Characters the code page lacks become its default character.
std::string ToAnsi(std::wstring_view text);
std::wstring FromAnsi(std::string_view text);

} // namespace fw
