// The application: starts the process-wide services (common controls, Winsock 2.2, GDI+), reads
// the one command-line switch and runs the main window modally. When the window closes, the
// process ends.
#pragma once

#include "framework/WinApp.h"

// Another program may close the main window with this message while the tool runs with
// "-Soft" (a kiosk or installer shell that started it, say).
constexpr UINT WM_REMOTE_CLOSE = WM_USER + 5000;

class CKorvaleApp : public fw::CWinApp {
public:
    CKorvaleApp();
    ~CKorvaleApp() override;

    BOOL InitInstance() override;

    // TRUE when the command line was exactly "-Soft".
    BOOL m_softMode = FALSE;
};

extern CKorvaleApp theApp;
