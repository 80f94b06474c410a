#include "NumEdit.h"

BEGIN_MESSAGE_MAP(CNumEdit, fw::CEdit)
    ON_WM_CHAR()
END_MESSAGE_MAP()

void CNumEdit::OnChar(UINT character, UINT, UINT)
{
    // Control characters such as the one Ctrl+V produces are dropped too, so shortcuts that
    // arrive as characters do nothing here.
    if ((character >= L'0' && character <= L'9') || character == L'\b')
        Default();
}
