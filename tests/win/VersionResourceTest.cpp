// The version resources: the program's (this test program links the same resource script) and
// the client library's, as Explorer and installers read them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The client library is copied beside the program that loads it.
std::wstring BesideOwnPath(const wchar_t* name)
{
    const std::wstring own = OwnPath();
    return own.substr(0, own.find_last_of(L"\\/") + 1) + name;
}

struct VersionInfo {
    VS_FIXEDFILEINFO fixed{};
    std::wstring originalFilename;
    std::wstring productVersion;
};

bool ReadVersion(const std::wstring& file, VersionInfo& info)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<BYTE> data(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data()))
        return false;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\", &value, &length) || length < sizeof info.fixed)
        return false;
    info.fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    const auto text = [&](const wchar_t* name) {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        return ::VerQueryValueW(data.data(), key.c_str(), &value, &length) && length > 0
                   ? std::wstring(static_cast<const wchar_t*>(value))
                   : std::wstring();
    };
    info.originalFilename = text(L"OriginalFilename");
    info.productVersion = text(L"ProductVersion");
    return true;
}

TEST(VersionResource, ProgramAndLibraryCarryTheProductVersion)
{
    const struct {
        std::wstring file;
        DWORD type;
        const wchar_t* originalFilename;
    } cases[] = {
        {OwnPath(), VFT_APP, L"Tessarin.exe"},
        {BesideOwnPath(L"DVSNETClient.dll"), VFT_DLL, L"DVSNETClient.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file.begin(), c.file.end()));
        VersionInfo info;
        ASSERT_TRUE(ReadVersion(c.file, info));
        EXPECT_EQ(info.fixed.dwSignature, VS_FFI_SIGNATURE);
        EXPECT_EQ(info.fixed.dwFileVersionMS, MAKELONG(1, 4));
        EXPECT_EQ(info.fixed.dwFileVersionLS, MAKELONG(5, 46));
        EXPECT_EQ(info.fixed.dwProductVersionMS, MAKELONG(1, 4));
        EXPECT_EQ(info.fixed.dwProductVersionLS, MAKELONG(5, 46));
        EXPECT_EQ(info.fixed.dwFileType, c.type);
        EXPECT_EQ(info.originalFilename, c.originalFilename);
        EXPECT_EQ(info.productVersion, L"4.1.46.5");
    }
}

} // namespace
