// The process entry of a program built on the framework: it hands the one application object the
// instance handle and the command line, then lets it run.
#include "CommandLine.h"
#include "WinApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    fw::CWinApp* app = fw::CWinApp::Current();
    if (app == nullptr)
        return 1;
    app->SetStartup(instance, std::wstring(fw::CommandLineTail(::GetCommandLineW())));
    if (app->InitInstance()) {
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return app->ExitInstance();
}
