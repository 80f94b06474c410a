// The list-view control and its header control.
#pragma once

#include "Wnd.h"

#include <commctrl.h>

namespace fw {

class CHeaderCtrl : public CWnd {};

class CListCtrl : public CWnd {};

} // namespace fw
