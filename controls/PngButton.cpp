#include "PngButton.h"

#include "ButtonFrames.h"
#include "framework/WinApp.h"

#include <objidl.h>
#include <gdiplus.h>

#include <vector>

namespace {

HRGN CopyRegion(HRGN source)
{
    HRGN copy = ::CreateRectRgn(0, 0, 0, 0);
    ::CombineRgn(copy, source, nullptr, RGN_COPY);
    return copy;
}

HRGN RegionFromRuns(const std::vector<PixelRun>& runs)
{
    std::vector<std::byte> data(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(runs.size());
    header->nRgnSize = static_cast<DWORD>(runs.size() * sizeof(RECT));
    header->rcBound = RECT{0, 0, 0, 0};
    auto* rects = reinterpret_cast<RECT*>(data.data() + sizeof(RGNDATAHEADER));
    for (size_t i = 0; i < runs.size(); ++i) {
        rects[i] = RECT{runs[i].left, runs[i].row, runs[i].right, runs[i].row + 1};
        ::UnionRect(&header->rcBound, &header->rcBound, &rects[i]);
    }
    if (runs.empty())
        return ::CreateRectRgn(0, 0, 0, 0);
    return ::ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()),
                             reinterpret_cast<const RGNDATA*>(data.data()));
}

} // namespace

BEGIN_MESSAGE_MAP(CPngButton, fw::CButton)
    ON_WM_MOUSEMOVE()
    ON_WM_MOUSEHOVER()
    ON_WM_MOUSELEAVE()
    ON_WM_ERASEBKGND()
    ON_WM_MOVE()
END_MESSAGE_MAP()

CPngButton::CPngButton() = default;
CPngButton::~CPngButton() = default;

void CPngButton::PreSubclassWindow()
{
    // The template may declare a plain push button; drawing is ours.
    const LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE,
                        (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
}

void CPngButton::LoadPngFile(const std::wstring& path)
{
    m_image.reset(Gdiplus::Bitmap::FromFile(path.c_str()));
    if (m_image && m_image->GetLastStatus() != Gdiplus::Ok)
        m_image.reset();
    m_imageWidth = m_image ? static_cast<int>(m_image->GetWidth()) : 0;
    m_imageHeight = m_image ? static_cast<int>(m_image->GetHeight()) : 0;
    m_frameWidth = FrameWidth(m_imageWidth);

    // The template fixes only where the button sits; its size comes from the picture.
    RECT rect = GetWindowRect();
    GetParent().ScreenToClient(rect);
    MoveWindow(rect.left, rect.top, m_frameWidth, m_imageHeight, TRUE);

    BuildFrameRegions();
}

void CPngButton::BuildFrameRegions()
{
    m_shapeShown = -1;
    for (fw::OwnedRegion& region : m_frameRegions)
        region.Reset();
    if (!m_image)
        return;

    // One alpha byte per pixel of the whole strip. A strip whose pixels cannot be read counts
    // as opaque everywhere.
    std::vector<std::uint8_t> alpha(static_cast<size_t>(m_imageWidth) * m_imageHeight, 0xFF);
    Gdiplus::BitmapData pixels{};
    Gdiplus::Rect whole(0, 0, m_imageWidth, m_imageHeight);
    if (m_image->LockBits(&whole, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &pixels) ==
        Gdiplus::Ok) {
        for (int y = 0; y < m_imageHeight; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(pixels.Scan0) + y * pixels.Stride;
            for (int x = 0; x < m_imageWidth; ++x)
                alpha[static_cast<size_t>(y) * m_imageWidth + x] = row[x * 4 + 3];
        }
        m_image->UnlockBits(&pixels);
    }
    for (int frame = 0; frame < kFrameCount; ++frame)
        m_frameRegions[frame].Reset(
            RegionFromRuns(OpaqueRuns(alpha.data(), m_imageWidth, ShapeLeft(m_imageWidth, frame),
                                      m_frameWidth, m_imageHeight)));
}

void CPngButton::DrawItem(DRAWITEMSTRUCT* item)
{
    const HDC dc = item->hDC;
    const int saved = ::SaveDC(dc);
    {
        Gdiplus::Graphics graphics(dc);
        const FrameState state =
            PickFrame((item->itemState & ODS_DISABLED) != 0, (item->itemState & ODS_SELECTED) != 0,
                      m_holdPressed != FALSE, m_hover != FALSE);
        const int frame = static_cast<int>(state);

        if (m_frameRegions[frame]) {
            if (m_shapeShown != frame) {
                // The window manager owns the region from here on.
                HRGN shape = CopyRegion(m_frameRegions[frame].Get());
                if (::SetWindowRgn(m_hWnd, shape, state != FrameState::Normal))
                    m_shapeShown = frame;
                else
                    ::DeleteObject(shape);
            }
            fw::OwnedRegion clip(CopyRegion(m_frameRegions[frame].Get()));
            Gdiplus::Region clipRegion(clip.Get());
            graphics.SetClip(&clipRegion, Gdiplus::CombineModeReplace);
        }

        if (m_image) {
            const Gdiplus::Status status = graphics.DrawImage(
                m_image.get(), Gdiplus::Rect(0, 0, m_frameWidth, m_imageHeight),
                frame * m_frameWidth, 0, m_frameWidth, m_imageHeight, Gdiplus::UnitPixel);
            // The message box repaints the window under it; one box at a time is enough.
            if (state == FrameState::Normal && status != Gdiplus::Ok && !m_reportingFailure) {
                m_reportingFailure = true;
                fw::AppMessageBox(std::to_wstring(static_cast<int>(status)));
                m_reportingFailure = false;
            }
        }
    }
    DrawCaption(dc, item->rcItem);
    ::RestoreDC(dc, saved);
}

void CPngButton::DrawCaption(HDC dc, const RECT& rect) const
{
    LOGFONTW logFont{};
    logFont.lfHeight = m_fontHeight;
    logFont.lfWeight = FW_NORMAL;
    wcscpy_s(logFont.lfFaceName, L"microsoft yahei");
    fw::OwnedFont font(::CreateFontIndirectW(&logFont));
    fw::DcSelection selection(dc, font.Get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, m_textColor);
    RECT area = rect;
    ::DrawTextW(dc, m_caption.c_str(), static_cast<int>(m_caption.size()), &area, m_textFormat);
}

LRESULT CPngButton::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // A fast second click arrives as a double click; it counts as a click of its own.
    if (message == WM_LBUTTONDBLCLK)
        message = WM_LBUTTONDOWN;
    return CButton::DefWindowProc(message, wParam, lParam);
}

void CPngButton::OnMouseMove(UINT, POINT)
{
    if (!m_tracking) {
        TRACKMOUSEEVENT track{sizeof(track), TME_HOVER | TME_LEAVE, m_hWnd, 1};
        m_tracking = ::TrackMouseEvent(&track);
    }
    Default();
}

void CPngButton::OnMouseHover(UINT, POINT)
{
    m_hover = TRUE;
    Invalidate(TRUE);
}

void CPngButton::OnMouseLeave()
{
    m_tracking = FALSE;
    m_hover = FALSE;
    Invalidate(TRUE);
}

BOOL CPngButton::OnEraseBkgnd(HDC)
{
    return TRUE;
}

void CPngButton::OnMove(int, int)
{
    Default();
    Invalidate(TRUE);
}
