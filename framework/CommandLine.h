// The part of a process command line that belongs to the program: what follows the program
// name and the blanks after it. Portable, so the rule is unit-tested natively.
#pragma once

#include <string_view>

namespace fw {

// The program name is either quoted (up to the next quote) or runs to the first blank; blanks
// are spaces and tabs. Whatever follows is kept exactly, trailing blanks included.
std::wstring_view CommandLineTail(std::wstring_view commandLine);

} // namespace fw
