// The system's file-open dialog.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace fw {

// Lets the user choose one existing file. `filter` is in the "Name|pattern|...||" form;
// `flags` are OFN_ flags. Returns the full path, or nothing when the user cancels.
std::optional<std::wstring> ShowOpenFileDialog(HWND owner, std::wstring_view filter, DWORD flags);

} // namespace fw
