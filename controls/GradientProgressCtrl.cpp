#include "GradientProgressCtrl.h"

#include "GradientBands.h"

namespace {

Rgb ToRgb(COLORREF color)
{
    return Rgb{GetRValue(color), GetGValue(color), GetBValue(color)};
}

} // namespace

BEGIN_MESSAGE_MAP(CGradientProgressCtrl, fw::CProgressCtrl)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CGradientProgressCtrl::CGradientProgressCtrl() : m_colorBack(::GetSysColor(COLOR_BTNFACE)) {}

void CGradientProgressCtrl::SetPos(int position)
{
    m_position = position;
    SendMessage(PBM_SETPOS, static_cast<WPARAM>(position));
}

BOOL CGradientProgressCtrl::OnEraseBkgnd(HDC)
{
    return TRUE;
}

void CGradientProgressCtrl::OnPaint()
{
    fw::CPaintDC paint(m_hWnd);
    const HDC dc = paint.GetSafeHdc();
    const RECT client = GetClientRect();
    if (!ShowsBar(m_lower, m_position, m_upper)) {
        // At either end of the range the control looks empty, 100 % included.
        fw::OwnedBrush face(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
        ::FillRect(dc, &client, face.Get());
        return;
    }
    DrawGradient(dc, client, FilledWidth(m_position, m_upper, client.right));
    if (m_showText) {
        std::wstring text = PercentText(m_position, m_upper);
        RECT area = client;
        ::SetTextColor(dc, m_colorText);
        ::SetBkMode(dc, TRANSPARENT);
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

void CGradientProgressCtrl::DrawGradient(HDC dc, const RECT& client, int filledWidth) const
{
    CMemDC buffer(dc);
    const GradientPlan plan =
        PlanGradient(ToRgb(m_colorStart), ToRgb(m_colorEnd), client.right, filledWidth);
    for (const GradientBand& band : plan.bands)
        buffer.FillSolidRect(RECT{band.left, 0, band.right, client.bottom + 1},
                             RGB(band.color.red, band.color.green, band.color.blue));
    if (plan.backgroundLeft >= 0)
        buffer.FillSolidRect(RECT{plan.backgroundLeft, 0, client.right, client.bottom},
                             m_colorBack);
}

CGradientProgressCtrl::CMemDC::CMemDC(HDC target)
    : m_target(target), m_buffering(::GetDeviceCaps(target, TECHNOLOGY) != DT_RASPRINTER)
{
    if (!m_buffering) {
        m_hDC = target;
        return;
    }
    ::GetClipBox(target, &m_rect);
    m_memory.Reset(::CreateCompatibleDC(target));
    m_bitmap.Reset(
        ::CreateCompatibleBitmap(target, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top));
    if (!m_memory || !m_bitmap) {
        // Without a buffer, draw straight onto the target.
        m_buffering = false;
        m_hDC = target;
        return;
    }
    m_oldBitmap = ::SelectObject(m_memory.Get(), m_bitmap.Get());
    ::SetWindowOrgEx(m_memory.Get(), m_rect.left, m_rect.top, nullptr);
    m_hDC = m_memory.Get();
}

CGradientProgressCtrl::CMemDC::~CMemDC()
{
    if (!m_buffering)
        return;
    ::BitBlt(m_target, m_rect.left, m_rect.top, m_rect.right - m_rect.left,
             m_rect.bottom - m_rect.top, m_memory.Get(), m_rect.left, m_rect.top, SRCCOPY);
    ::SelectObject(m_memory.Get(), m_oldBitmap);
}
