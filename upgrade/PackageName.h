// The library mechanism's check that a package was made for the selected device, and the fixed
// text fields the library takes. Package titles look like "<P>_<S>_<anything>": the device's
// firmware version must begin with S, and its text after the first "+" with P.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// The file name of an 8-bit path without its last extension: after the last backslash (or, with
// none, the last "/"), up to the last "." when that lies inside the name.
std::string ExtractPackageTitle(std::string_view ansiPath);

// Whether a package titled `title` fits a device with firmware version `firmware`.
bool PackageNameMatches(std::wstring_view title, std::wstring_view firmware);

// An 8-bit text in a fixed field, zero-terminated: whole when it fits with its terminator,
// otherwise its first field-size - 1 bytes.
void CopyAnsiField(std::string_view text, std::span<char> field);
