// A push button drawn from a PNG strip of four pictures (normal, hover, pressed, disabled) and
// shaped like the picture it shows: transparent pixels are not part of the window, so round or
// irregular buttons show the window behind them.
#pragma once

#include "framework/Controls.h"
#include "framework/Handles.h"

#include <memory>
#include <string>

namespace Gdiplus {
class Bitmap;
}

class CPngButton : public fw::CButton {
public:
    CPngButton();
    ~CPngButton() override;

    // Loads the strip and sizes the button to one picture, keeping its top-left corner. Call it
    // once the button is attached to its dialog item. A file that cannot be read leaves a
    // button of 0 x 0 pixels: it disappears rather than showing an error.
    void LoadPngFile(const std::wstring& path);

    // Set by the owner (the active tab): the pressed picture shows whatever the mouse does.
    BOOL m_holdPressed = FALSE;
    BOOL m_tracking = FALSE;
    BOOL m_hover = FALSE;
    int m_imageWidth = 0;
    int m_imageHeight = 0;
    int m_frameWidth = 0;
    std::wstring m_caption;
    COLORREF m_textColor = RGB(0, 0, 0);
    UINT m_textFormat = DT_CENTER;
    int m_fontHeight = 16;

    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DrawItem(DRAWITEMSTRUCT* item) override;

protected:
    void PreSubclassWindow() override;

    void OnMouseMove(UINT flags, POINT point);
    void OnMouseHover(UINT flags, POINT point);
    void OnMouseLeave();
    BOOL OnEraseBkgnd(HDC dc);
    void OnMove(int x, int y);

    DECLARE_MESSAGE_MAP()

private:
    void BuildFrameRegions();
    void DrawCaption(HDC dc, const RECT& rect) const;

    std::unique_ptr<Gdiplus::Bitmap> m_image;
    // Per picture, the set of its opaque pixels in window coordinates, made once per load.
    fw::OwnedRegion m_frameRegions[4];
    // The picture whose shape the window has now; the shape is handed over only on a change, so
    // a redraw asked for with the new shape does not ask for another.
    int m_shapeShown = -1;
    bool m_reportingFailure = false;
};
