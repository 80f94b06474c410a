// A text label with its own colours that can draw its text straight onto the parent's
// background. Its colours apply only when the parent leaves the control-colour request to the
// framework's default handling.
#pragma once

#include "framework/Controls.h"
#include "framework/Handles.h"

class CColorStatic : public fw::CStatic {
public:
    CColorStatic();

    bool m_transparent = true;
    // Opaque case only. A new m_backColor needs a new m_backBrush of that colour.
    fw::OwnedBrush m_backBrush;
    COLORREF m_backColor;
    COLORREF m_textColor;

protected:
    HBRUSH CtlColor(HDC dc, UINT kind);
    LRESULT OnSetText(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetFont(WPARAM wParam, LPARAM lParam);
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

private:
    void InvalidateParentBehind() const;
};
