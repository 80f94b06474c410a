#include "PackageName.h"

#include <algorithm>

std::string ExtractPackageTitle(std::string_view ansiPath)
{
    size_t start = ansiPath.rfind('\\');
    if (start == std::string_view::npos)
        start = ansiPath.rfind('/');
    start = start == std::string_view::npos ? 0 : start + 1;
    const size_t dot = ansiPath.rfind('.');
    const size_t end = (dot != std::string_view::npos && dot >= start) ? dot : ansiPath.size();
    return std::string(ansiPath.substr(start, end - start));
}

namespace {

// Text before the first "_" (empty without one), and text after it (all without one).
std::wstring_view BeforeUnderscore(std::wstring_view text)
{
    const size_t at = text.find(L'_');
    return at == std::wstring_view::npos ? std::wstring_view() : text.substr(0, at);
}

std::wstring_view AfterUnderscore(std::wstring_view text)
{
    const size_t at = text.find(L'_');
    return at == std::wstring_view::npos ? text : text.substr(at + 1);
}

} // namespace

bool PackageNameMatches(std::wstring_view title, std::wstring_view firmware)
{
    const std::wstring_view first = BeforeUnderscore(title);
    const std::wstring_view second = BeforeUnderscore(AfterUnderscore(title));
    const size_t plus = firmware.find(L'+');
    const std::wstring_view afterPlus =
        plus == std::wstring_view::npos ? firmware : firmware.substr(plus + 1);
    return afterPlus.starts_with(first) && firmware.starts_with(second);
}

void CopyAnsiField(std::string_view text, std::span<char> field)
{
    if (field.empty())
        return;
    const size_t length = std::min(text.size(), field.size() - 1);
    std::copy_n(text.begin(), length, field.begin());
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(length), field.end(), '\0');
}
