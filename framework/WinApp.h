// The application object: one global instance per program, found by the process entry, which
// hands it the instance handle and the command line and runs InitInstance. It also owns what is
// application-wide: the name shown in message-box titles and the default profile.
#pragma once

#include "Wnd.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

class CWinApp {
public:
    // The name is derived from the executable's file name when none is given.
    explicit CWinApp(const wchar_t* appName = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // The one application object of the process, or null before it is constructed.
    static CWinApp* Current();
    // Where dialog templates, bitmaps and icons are loaded from: the executable.
    static HINSTANCE ResourceInstance();

    // Returns TRUE to run a message loop afterwards, FALSE to end the process at once.
    virtual BOOL InitInstance() { return TRUE; }
    // Returns the process exit code.
    virtual int ExitInstance() { return 0; }

    // Called by the process entry before InitInstance.
    void SetStartup(HINSTANCE instance, std::wstring commandLine);

    const std::wstring& AppName() const { return m_appName; }
    // The default profile: an INI file beside the executable, named after it.
    std::wstring ProfilePath() const;
    // A block of bytes saved with WritePrivateProfileStruct; empty when absent or damaged.
    std::vector<std::uint8_t> GetProfileBinary(const wchar_t* section, const wchar_t* entry) const;

    HINSTANCE m_hInstance = nullptr;
    // The command line after the program name and the blanks that follow it.
    const wchar_t* m_lpCmdLine = L"";
    CWnd* m_pMainWnd = nullptr;

private:
    std::wstring m_appName;
    std::wstring m_commandLine;
};

// Full path of the running executable.
std::wstring ModulePath();

// A message box owned by the main window and titled with the application's name.
int AppMessageBox(const std::wstring& text, UINT type = MB_OK);

} // namespace fw
