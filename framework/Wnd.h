// Window classes of the framework. CWindow is a copyable, non-owning view of any window, with one
// message send per method. CWnd is a window object: it is attached to one window (by creating it
// or by subclassing a dialog item), dispatches that window's messages through its message map and
// cannot be copied. Handlers see the messages of controls reflected back to the control's own
// object first, so a control class can draw and handle itself.
#pragma once

#include "MessageMap.h"

#include <string>

namespace fw {

class CWindow {
public:
    CWindow(HWND window = nullptr) : m_hWnd(window) {}

    HWND GetSafeHwnd() const { return m_hWnd; }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    CWindow GetDlgItem(int id) const { return CWindow(::GetDlgItem(m_hWnd, id)); }
    CWindow GetParent() const { return CWindow(::GetParent(m_hWnd)); }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }

    BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
    BOOL EnableWindow(BOOL enable) const { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }

    void SetWindowText(const std::wstring& text) const { ::SetWindowTextW(m_hWnd, text.c_str()); }
    std::wstring GetWindowText() const;

    RECT GetWindowRect() const;
    RECT GetClientRect() const;
    void ScreenToClient(RECT& rect) const
    {
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    }
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) const
    {
        return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
    }
    void Invalidate(BOOL erase = TRUE) const { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void SetFont(HFONT font, BOOL redraw = TRUE) const
    {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw, 0));
    }
    HICON SetIcon(HICON icon, BOOL big) const
    {
        return reinterpret_cast<HICON>(
            SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
    }

    HWND m_hWnd;
};

class CWnd : public CWindow {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    // A window object takes its window with it: a created window is destroyed, a subclassed
    // control is given back its own window procedure.
    virtual ~CWnd();

    // The object attached to a window, or null for a window no object manages.
    static CWnd* FromHandlePermanent(HWND window);

    // Attaches this object to an existing window and routes its messages through WindowProc.
    BOOL SubclassWindow(HWND window);
    BOOL SubclassDlgItem(int id, const CWindow& parent);
    BOOL DestroyWindow();

    // Routes one message: the message map first, then DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Default processing: the window procedure the window had before it was subclassed.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    virtual const MessageMap* GetMessageMap() const;
    static const MessageMap* GetThisMessageMap();

protected:
    // Called once the object is attached to a subclassed window, before any message arrives.
    virtual void PreSubclassWindow() {}
    // Called after the window is gone and the object detached.
    virtual void PostNcDestroy() {}

    // Default processing of the message being handled, for handlers that add to it.
    LRESULT Default();

    // The framework's own handling of messages that derived handlers may pass on.
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    void OnDestroy() { Default(); }
    void OnLButtonDown(UINT, POINT) { Default(); }

    // Finds a map entry for the message and runs it; false when no entry takes it.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Hooks a freshly created window (dialogs attach this way) to this object.
    void AttachCreated(HWND window);
    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

private:
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    static bool ReflectToChild(HWND child, UINT message, WPARAM wParam, LPARAM lParam,
                               LRESULT& result);
    void Detach();

    WNDPROC m_superProc = nullptr;
    const CurrentMessage* m_currentMessage = nullptr;
    bool m_createdByUs = false;
};

} // namespace fw
