#include "CommandLine.h"

namespace fw {
namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

} // namespace

std::wstring_view CommandLineTail(std::wstring_view commandLine)
{
    size_t position = 0;
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const size_t closing = commandLine.find(L'"', 1);
        position = closing == std::wstring_view::npos ? commandLine.size() : closing + 1;
    }
    while (position < commandLine.size() && !IsBlank(commandLine[position]))
        ++position;
    while (position < commandLine.size() && IsBlank(commandLine[position]))
        ++position;
    return commandLine.substr(position);
}

} // namespace fw
