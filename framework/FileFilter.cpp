#include "FileFilter.h"

namespace fw {

std::wstring FilterForOpenDialog(std::wstring_view filter)
{
    std::wstring result(filter);
    for (wchar_t& c : result)
        if (c == L'|')
            c = L'\0';
    while (result.size() < 2 || result[result.size() - 1] != L'\0' ||
           result[result.size() - 2] != L'\0')
        result.push_back(L'\0');
    return result;
}

} // namespace fw
