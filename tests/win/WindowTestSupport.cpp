#include "WindowTestSupport.h"

#include <gtest/gtest.h>

namespace test {
namespace {

struct Script {
    std::vector<Step> steps;
    std::function<HWND()> window;
    size_t next = 0;
    int idleTicks = 0;
    bool timedOut = false;
};

Script* g_script = nullptr;

constexpr UINT kTickMs = 20;
constexpr int kIdleTicksBeforeGivingUp = 100;

void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD)
{
    Script& script = *g_script;
    HWND window = script.window();
    if (window == nullptr || !::IsWindow(window))
        return;
    if (script.next < script.steps.size()) {
        script.steps[script.next++]();
        return;
    }
    if (++script.idleTicks > kIdleTicksBeforeGivingUp && !script.timedOut) {
        script.timedOut = true;
        ::EndDialog(window, -2);
    }
}

} // namespace

INT_PTR RunScripted(const std::function<INT_PTR()>& run, const std::function<HWND()>& window,
                    std::vector<Step> steps, StepsMayStayUnrun unrun)
{
    Script script{std::move(steps), window};
    g_script = &script;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, kTickMs, &OnTick);
    const INT_PTR result = run();
    ::KillTimer(nullptr, timer);
    g_script = nullptr;
    if (unrun == StepsMayStayUnrun::No) {
        EXPECT_EQ(script.next, script.steps.size()) << "the window ended before all steps ran";
    }
    EXPECT_FALSE(script.timedOut) << "the window did not close";
    return result;
}

INT_PTR RunModal(fw::CDialog& dialog, std::vector<Step> steps)
{
    return RunScripted([&dialog] { return dialog.DoModal(); }, [&dialog] { return dialog.m_hWnd; },
                       std::move(steps));
}

void PumpMessages(HWND dialog)
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog != nullptr && ::IsDialogMessageW(dialog, &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void PressKey(HWND window, WPARAM key)
{
    HWND target = ::GetFocus();
    if (target == nullptr || (target != window && !::IsChild(window, target)))
        target = window;
    ::PostMessageW(target, WM_KEYDOWN, key, 1);
    ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

bool TakePostedMessage(HWND window, UINT message, MSG& found)
{
    return ::PeekMessageW(&found, window, message, message, PM_REMOVE) != FALSE;
}

} // namespace test
