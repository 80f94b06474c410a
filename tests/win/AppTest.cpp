// The application object's start: the "-Soft" switch decides whether another program may close
// the main window with WM_REMOTE_CLOSE.
#include "app/KorvaleApp.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct SwitchCase {
    const wchar_t* commandLine;
    bool soft;
};

class SoftSwitch : public testing::TestWithParam<SwitchCase> {};

HWND MainWindow()
{
    return theApp.m_pMainWnd ? theApp.m_pMainWnd->m_hWnd : nullptr;
}

TEST_P(SoftSwitch, DecidesWhetherRemoteCloseEndsTheProgram)
{
    theApp.SetStartup(::GetModuleHandleW(nullptr), GetParam().commandLine);
    std::vector<test::Step> steps = {[] { ::PostMessageW(MainWindow(), WM_REMOTE_CLOSE, 0, 0); }};
    if (!GetParam().soft) {
        steps.push_back([] { EXPECT_TRUE(::IsWindowVisible(MainWindow())); });
        steps.push_back([] { ::PostMessageW(MainWindow(), WM_CLOSE, 0, 0); });
    }

    BOOL result = TRUE;
    test::RunScripted(
        [&] {
            result = theApp.InitInstance();
            return 0;
        },
        &MainWindow, std::move(steps));

    EXPECT_FALSE(result); // the process ends after the dialog; no message loop follows
    EXPECT_EQ(theApp.m_softMode != FALSE, GetParam().soft);
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, SoftSwitch,
                         testing::Values(SwitchCase{L"-Soft", true}, SwitchCase{L"-soft", false},
                                         SwitchCase{L"-SOFT", false}, SwitchCase{L"-Soft ", false},
                                         SwitchCase{L"-Soft -x", false}, SwitchCase{L"Soft", false},
                                         SwitchCase{L"", false}));

} // namespace
