// Control classes: a CWnd attached to one dialog item (DDX_Control), with one message send per
// method. The skinned controls of the program derive from these; a method is added when the
// program needs it.
#pragma once

#include "Wnd.h"

#include <commctrl.h>

namespace fw {

// An owner-drawn button (BS_OWNERDRAW) paints itself in DrawItem.
class CButton : public CWnd {
public:
    virtual void DrawItem(DRAWITEMSTRUCT*) {}

    DECLARE_MESSAGE_MAP()
};

class CStatic : public CWnd {};

class CEdit : public CWnd {};

class CProgressCtrl : public CWnd {};

} // namespace fw
