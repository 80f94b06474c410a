// Control classes: a CWnd attached to one dialog item (DDX_Control), with one message send per
// method. The skinned controls of the program derive from these; a method is added when the
// program needs it.
#pragma once

#include "Wnd.h"

#include <commctrl.h>

namespace fw {

class CButton : public CWnd {};

class CStatic : public CWnd {};

class CEdit : public CWnd {};

} // namespace fw
