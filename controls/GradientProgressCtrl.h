// A progress bar that paints its own colour gradient up to the current position, optionally with
// the position as a centred percentage. The upgrade panel switches it between an idle and an
// active look by setting the members below.
#pragma once

#include "framework/Controls.h"
#include "framework/Handles.h"

class CGradientProgressCtrl : public fw::CProgressCtrl {
public:
    CGradientProgressCtrl();

    // Stores the position and lets the control's own PBM_SETPOS handling repaint it.
    void SetPos(int position);

    BOOL m_showText = FALSE;
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    COLORREF m_colorStart = RGB(0, 255, 0);
    COLORREF m_colorEnd = RGB(0, 0, 255);
    COLORREF m_colorBack;
    COLORREF m_colorText = RGB(0, 0, 0);

    // Double-buffers one paint: everything drawn on it lands in the target in one copy when it
    // goes. A printer context is drawn on directly.
    class CMemDC : public fw::CDC {
    public:
        explicit CMemDC(HDC target);
        ~CMemDC() override;

    private:
        fw::MemoryDc m_memory;
        fw::OwnedBitmap m_bitmap;
        HGDIOBJ m_oldBitmap = nullptr;
        HDC m_target;
        RECT m_rect{};
        bool m_buffering;
    };

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(HDC dc);

    DECLARE_MESSAGE_MAP()

private:
    void DrawGradient(HDC dc, const RECT& client, int filledWidth) const;
};
