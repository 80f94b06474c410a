#pragma once

#include "framework/Controls.h"

// An edit control that takes only digits and backspace from the keyboard. Text that arrives
// another way (a paste from the context menu, WM_SETTEXT) is not filtered.
class CNumEdit : public fw::CEdit {
protected:
    void OnChar(UINT character, UINT repeatCount, UINT flags);

    DECLARE_MESSAGE_MAP()
};
