// File-type filters of the file-open dialog are written as "Name|pattern|Name|pattern||", which
// reads well in code; the dialog wants the same pairs separated by NUL characters instead.
#pragma once

#include <string>
#include <string_view>

namespace fw {

// Turns every '|' into a NUL. The result always ends in two NULs, also for an empty filter.
std::wstring FilterForOpenDialog(std::wstring_view filter);

} // namespace fw
