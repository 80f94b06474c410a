#include "KorvaleApp.h"

#include "KorvaleDlg.h"

#include <winsock2.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string_view>

namespace {

// GDI+ lives as long as the application object: the skinned buttons hold GDI+ images until the
// main window object is destroyed, which is before this object goes.
ULONG_PTR g_gdiplusToken = 0;
Gdiplus::GdiplusStartupInput g_gdiplusInput;

} // namespace

CKorvaleApp theApp;

CKorvaleApp::CKorvaleApp()
{
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &g_gdiplusInput, nullptr);
}

CKorvaleApp::~CKorvaleApp()
{
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
}

BOOL CKorvaleApp::InitInstance()
{
    // Only the structure's own size and the Windows 95 classes; the dialog code registers the
    // classes its templates name.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();

    WSADATA winsock{};
    if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return FALSE;
    if (LOBYTE(winsock.wVersion) != 2 || HIBYTE(winsock.wVersion) != 2) {
        ::WSACleanup();
        return FALSE;
    }

    // The whole rest of the command line decides, case and blanks included.
    m_softMode = std::wstring_view(m_lpCmdLine) == L"-Soft";

    {
        CKorvaleDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        // Every discovery socket is closed by now; the window object itself goes after.
        ::WSACleanup();
        m_pMainWnd = nullptr;
    }
    return FALSE;
}
