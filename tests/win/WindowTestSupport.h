// Helpers for driving real windows inside the test process.
#pragma once

#include "framework/Dialog.h"

#include <functional>
#include <vector>

namespace test {

using Step = std::function<void()>;

// Whether a script may end before all its steps ran: a window that is expected only in some
// cases (a message box, say) never shows in the others.
enum class StepsMayStayUnrun { No, Yes };

// Runs `run` (which enters a modal loop, such as DoModal) and, from inside that loop, the steps
// one by one, each once the messages that the previous one caused have been handled and while
// `window()` exists. When the steps are done and `window()` has not closed within about two
// seconds, the test fails and the window is ended with -2, so a broken close never hangs the
// suite.
INT_PTR RunScripted(const std::function<INT_PTR()>& run, const std::function<HWND()>& window,
                    std::vector<Step> steps, StepsMayStayUnrun unrun = StepsMayStayUnrun::No);

// The usual case: DoModal of `dialog` with steps.
INT_PTR RunModal(fw::CDialog& dialog, std::vector<Step> steps);

// Handles every message waiting for this thread, with dialog keyboard handling for `dialog`.
void PumpMessages(HWND dialog);

// Posts a key press to the focused control (or the window), as the keyboard would.
void PressKey(HWND window, WPARAM key);

// Whether a message of this kind for this window waits in the queue; takes it out.
bool TakePostedMessage(HWND window, UINT message, MSG& found);

} // namespace test
