#include "FileDialog.h"

#include "FileFilter.h"

#include <commdlg.h>

#include <vector>

namespace fw {

std::optional<std::wstring> ShowOpenFileDialog(HWND owner, std::wstring_view filter, DWORD flags)
{
    const std::wstring filterText = FilterForOpenDialog(filter);
    // Room for a long path; the dialog reports a buffer too small as a failure, not a cut name.
    std::vector<wchar_t> path(32768, L'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof(request);
    request.hwndOwner = owner;
    request.lpstrFilter = filterText.c_str();
    request.nFilterIndex = 1;
    request.lpstrFile = path.data();
    request.nMaxFile = static_cast<DWORD>(path.size());
    request.Flags = flags;
    if (!::GetOpenFileNameW(&request))
        return std::nullopt;
    return std::wstring(path.data());
}

} // namespace fw
