#include "ColorStatic.h"

BEGIN_MESSAGE_MAP(CColorStatic, fw::CStatic)
    ON_WM_CTLCOLOR_REFLECT()
    ON_MESSAGE(WM_SETTEXT, OnSetText)
    ON_MESSAGE(WM_SETFONT, OnSetFont)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

CColorStatic::CColorStatic()
    : m_backColor(::GetSysColor(COLOR_BTNFACE)), m_textColor(::GetSysColor(COLOR_BTNTEXT))
{
    m_backBrush.Reset(::CreateSolidBrush(m_backColor));
}

HBRUSH CColorStatic::CtlColor(HDC dc, UINT)
{
    ::SetTextColor(dc, m_textColor);
    if (m_transparent) {
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    ::SetBkColor(dc, m_backColor);
    return m_backBrush.Get();
}

void CColorStatic::InvalidateParentBehind() const
{
    // A transparent label paints no background, so a shorter new text would leave the end of
    // the old one standing unless the parent repaints what lies under the label.
    const fw::CWindow parent = GetParent();
    if (!m_transparent || parent.m_hWnd == nullptr)
        return;
    RECT rect = GetWindowRect();
    parent.ScreenToClient(rect);
    ::InvalidateRect(parent.m_hWnd, &rect, TRUE);
}

LRESULT CColorStatic::OnSetText(WPARAM, LPARAM)
{
    InvalidateParentBehind();
    return Default();
}

LRESULT CColorStatic::OnSetFont(WPARAM, LPARAM)
{
    InvalidateParentBehind();
    return Default();
}

void CColorStatic::OnDestroy()
{
    CStatic::OnDestroy();
    m_backBrush.Reset();
}
