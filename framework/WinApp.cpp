#include "WinApp.h"

#include <algorithm>
#include <cwctype>

namespace fw {
namespace {

CWinApp* g_application = nullptr;

std::wstring FileTitle(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0)
        name.resize(dot);
    return name;
}

} // namespace

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

CWinApp::CWinApp(const wchar_t* appName)
{
    g_application = this;
    m_appName = appName != nullptr ? std::wstring(appName) : FileTitle(ModulePath());
}

CWinApp::~CWinApp()
{
    if (g_application == this)
        g_application = nullptr;
}

CWinApp* CWinApp::Current()
{
    return g_application;
}

HINSTANCE CWinApp::ResourceInstance()
{
    return (g_application && g_application->m_hInstance) ? g_application->m_hInstance
                                                         : ::GetModuleHandleW(nullptr);
}

void CWinApp::SetStartup(HINSTANCE instance, std::wstring commandLine)
{
    m_hInstance = instance;
    m_commandLine = std::move(commandLine);
    m_lpCmdLine = m_commandLine.c_str();
}

std::wstring CWinApp::ProfilePath() const
{
    std::wstring path = ModulePath();
    const size_t slash = path.find_last_of(L'\\');
    const size_t dot = path.find_last_of(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        path.resize(dot);
    return path + L".INI";
}

std::vector<std::uint8_t> CWinApp::GetProfileBinary(const wchar_t* section,
                                                    const wchar_t* entry) const
{
    // WritePrivateProfileStruct stores two hex digits per byte plus a two-digit checksum, so the
    // text's length gives the size of the block.
    const std::wstring profile = ProfilePath();
    wchar_t text[4096];
    const DWORD length =
        ::GetPrivateProfileStringW(section, entry, L"", text, ARRAYSIZE(text), profile.c_str());
    if (length < 2 || length % 2 != 0 || length >= ARRAYSIZE(text) - 1 ||
        !std::all_of(text, text + length, [](wchar_t c) { return std::iswxdigit(c) != 0; }))
        return {};
    std::vector<std::uint8_t> data((length - 2) / 2);
    if (data.empty() ||
        !::GetPrivateProfileStructW(section, entry, data.data(), static_cast<UINT>(data.size()),
                                    profile.c_str()))
        return {};
    return data;
}

int AppMessageBox(const std::wstring& text, UINT type)
{
    const CWinApp* app = CWinApp::Current();
    HWND owner = (app && app->m_pMainWnd) ? app->m_pMainWnd->m_hWnd : nullptr;
    const std::wstring title = app ? app->AppName() : std::wstring();
    return ::MessageBoxW(owner, text.c_str(), title.c_str(), type);
}

} // namespace fw
