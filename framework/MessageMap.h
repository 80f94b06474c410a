// Message maps: a constant table per window class that binds a message, or a control's
// notification, to a member handler. Each entry macro fixes the handler's signature and decodes
// wParam/lParam once, so a handler with the wrong signature does not compile.
//
//   BEGIN_MESSAGE_MAP(CMyDlg, fw::CDialog)
//       ON_WM_PAINT()                   // void OnPaint()
//       ON_BN_CLICKED(1001, OnSearch)   // void OnSearch()
//   END_MESSAGE_MAP()
//
// A class with a map writes DECLARE_MESSAGE_MAP() in its declaration. Maps chain to the base
// class's map; the most derived entry wins.
#pragma once

#include <windows.h>

#include <cstddef>

namespace fw {

class CWnd;

// Reflected messages are offered to the child control that caused them (see CWnd) and never
// travel through a window procedure, so any value outside the 16-bit message range is safe.
constexpr UINT kReflected = 0x10000;

using MessageHandler = bool (*)(CWnd& window, UINT message, WPARAM wParam, LPARAM lParam,
                                LRESULT& result);

struct MessageEntry {
    UINT firstMessage;
    UINT lastMessage;
    UINT code; // notification code, for WM_COMMAND and WM_NOTIFY
    UINT id;   // control identifier, for WM_COMMAND and WM_NOTIFY (not for reflected ones)
    MessageHandler handler;
};

struct MessageMap {
    const MessageMap* (*base)();
    const MessageEntry* entries;
    std::size_t count;
};

} // namespace fw

#define DECLARE_MESSAGE_MAP()                                                                      \
public:                                                                                            \
    static const ::fw::MessageMap* GetThisMessageMap();                                            \
    const ::fw::MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const ::fw::MessageMap* theClass::GetMessageMap() const                                        \
    {                                                                                              \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const ::fw::MessageMap* theClass::GetThisMessageMap()                                          \
    {                                                                                              \
        using ThisClass = theClass;                                                                \
        using TheBase = baseClass;                                                                 \
        static const ::fw::MessageEntry entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    {                                                                                              \
        0, 0, 0, 0, nullptr                                                                        \
    }                                                                                              \
    }                                                                                              \
    ;                                                                                              \
    static const ::fw::MessageMap map{&TheBase::GetThisMessageMap, entries,                        \
                                      sizeof(entries) / sizeof(entries[0]) - 1};                   \
    return &map;                                                                                   \
    }

// One entry whose body calls the handler `h` on `self`; msg, wp, lp and result are in scope.
#define FW_MESSAGE_ENTRY(first, last, code, id, body)                                              \
    {first, last, code, id,                                                                        \
     []([[maybe_unused]] ::fw::CWnd& window, [[maybe_unused]] UINT msg,                            \
        [[maybe_unused]] WPARAM wp, [[maybe_unused]] LPARAM lp,                                    \
        [[maybe_unused]] LRESULT& result) -> bool {                                                \
         [[maybe_unused]] ThisClass& self = static_cast<ThisClass&>(window);                       \
         body;                                                                                     \
         return true;                                                                              \
     }},

// LRESULT fn(WPARAM, LPARAM)
#define ON_MESSAGE(message, fn)                                                                    \
    FW_MESSAGE_ENTRY(message, message, 0, 0,                                                       \
                     LRESULT (ThisClass::*h)(WPARAM, LPARAM) = &ThisClass::fn;                     \
                     result = (self.*h)(wp, lp))

// void fn(), for a command (menu, accelerator or button click) with this identifier
#define ON_COMMAND(id, fn) ON_CONTROL(BN_CLICKED, id, fn)

// void fn(), for notification `code` of control `id` sent as WM_COMMAND
#define ON_CONTROL(code, id, fn)                                                                   \
    FW_MESSAGE_ENTRY(WM_COMMAND, WM_COMMAND, code, id, void (ThisClass::*h)() = &ThisClass::fn;    \
                     (self.*h)())

#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)

// void fn(NMHDR* header, LRESULT* result), for WM_NOTIFY `code` from control `id`
#define ON_NOTIFY(code, id, fn)                                                                    \
    FW_MESSAGE_ENTRY(WM_NOTIFY, WM_NOTIFY, static_cast<UINT>(code), id,                            \
                     void (ThisClass::*h)(NMHDR*, LRESULT*) = &ThisClass::fn;                      \
                     (self.*h)(reinterpret_cast<NMHDR*>(lp), &result))

// void fn()
#define ON_WM_PAINT()                                                                              \
    FW_MESSAGE_ENTRY(WM_PAINT, WM_PAINT, 0, 0, void (ThisClass::*h)() = &ThisClass::OnPaint;       \
                     (self.*h)())

// BOOL OnEraseBkgnd(HDC dc)
#define ON_WM_ERASEBKGND()                                                                         \
    FW_MESSAGE_ENTRY(WM_ERASEBKGND, WM_ERASEBKGND, 0, 0,                                           \
                     BOOL (ThisClass::*h)(HDC) = &ThisClass::OnEraseBkgnd;                         \
                     result = (self.*h)(reinterpret_cast<HDC>(wp)))

// HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind), kind being one of the CTLCOLOR_ values
#define ON_WM_CTLCOLOR()                                                                           \
    FW_MESSAGE_ENTRY(WM_CTLCOLORMSGBOX, WM_CTLCOLORSTATIC, 0, 0,                                   \
                     HBRUSH (ThisClass::*h)(HDC, HWND, UINT) = &ThisClass::OnCtlColor;             \
                     result = reinterpret_cast<LRESULT>((self.*h)(reinterpret_cast<HDC>(wp),       \
                                                                  reinterpret_cast<HWND>(lp),      \
                                                                  msg - WM_CTLCOLORMSGBOX)))

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                                      \
    FW_MESSAGE_ENTRY(WM_QUERYDRAGICON, WM_QUERYDRAGICON, 0, 0,                                     \
                     HCURSOR (ThisClass::*h)() = &ThisClass::OnQueryDragIcon;                      \
                     result = reinterpret_cast<LRESULT>((self.*h)()))

// void OnLButtonDown(UINT flags, POINT point), point in client coordinates
#define ON_WM_LBUTTONDOWN()                                                                        \
    FW_MESSAGE_ENTRY(WM_LBUTTONDOWN, WM_LBUTTONDOWN, 0, 0,                                         \
                     void (ThisClass::*h)(UINT, POINT) = &ThisClass::OnLButtonDown;                \
                     (self.*h)(static_cast<UINT>(wp), POINT{static_cast<short>(LOWORD(lp)),        \
                                                            static_cast<short>(HIWORD(lp))}))

// void OnClose()
#define ON_WM_CLOSE()                                                                              \
    FW_MESSAGE_ENTRY(WM_CLOSE, WM_CLOSE, 0, 0, void (ThisClass::*h)() = &ThisClass::OnClose;       \
                     (self.*h)())

// void OnDestroy()
#define ON_WM_DESTROY()                                                                            \
    FW_MESSAGE_ENTRY(WM_DESTROY, WM_DESTROY, 0, 0, void (ThisClass::*h)() = &ThisClass::OnDestroy; \
                     (self.*h)())

// HBRUSH CtlColor(HDC dc, UINT kind): the parent's control-colour request, offered to the
// control itself when the parent leaves it to the framework
#define ON_WM_CTLCOLOR_REFLECT()                                                                   \
    FW_MESSAGE_ENTRY(                                                                              \
        WM_CTLCOLORMSGBOX | ::fw::kReflected, WM_CTLCOLORSTATIC | ::fw::kReflected, 0, 0,          \
        HBRUSH(ThisClass::*h)(HDC, UINT) = &ThisClass::CtlColor;                                   \
        result = reinterpret_cast<LRESULT>(                                                        \
            (self.*h)(reinterpret_cast<HDC>(wp), (msg & ~::fw::kReflected) - WM_CTLCOLORMSGBOX)))

// void fn(NMHDR* header, LRESULT* result): the control's own notification `code`, handled by the
// control before its parent sees it
#define ON_NOTIFY_REFLECT(code, fn)                                                                \
    FW_MESSAGE_ENTRY(WM_NOTIFY | ::fw::kReflected, WM_NOTIFY | ::fw::kReflected,                   \
                     static_cast<UINT>(code), 0,                                                   \
                     void(ThisClass::*h)(NMHDR*, LRESULT*) = &ThisClass::fn;                       \
                     (self.*h)(reinterpret_cast<NMHDR*>(lp), &result))

// void OnMouseMove(UINT flags, POINT point)
#define ON_WM_MOUSEMOVE()                                                                          \
    FW_MESSAGE_ENTRY(WM_MOUSEMOVE, WM_MOUSEMOVE, 0, 0,                                             \
                     void (ThisClass::*h)(UINT, POINT) = &ThisClass::OnMouseMove;                  \
                     (self.*h)(static_cast<UINT>(wp),                                              \
                               POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))}))

// void OnMouseHover(UINT flags, POINT point)
#define ON_WM_MOUSEHOVER()                                                                         \
    FW_MESSAGE_ENTRY(WM_MOUSEHOVER, WM_MOUSEHOVER, 0, 0,                                           \
                     void (ThisClass::*h)(UINT, POINT) = &ThisClass::OnMouseHover;                 \
                     (self.*h)(static_cast<UINT>(wp),                                              \
                               POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))}))

// void OnMouseLeave()
#define ON_WM_MOUSELEAVE()                                                                         \
    FW_MESSAGE_ENTRY(WM_MOUSELEAVE, WM_MOUSELEAVE, 0, 0,                                           \
                     void (ThisClass::*h)() = &ThisClass::OnMouseLeave;                            \
                     (self.*h)())

// void OnMove(int x, int y)
#define ON_WM_MOVE()                                                                               \
    FW_MESSAGE_ENTRY(WM_MOVE, WM_MOVE, 0, 0, void (ThisClass::*h)(int, int) = &ThisClass::OnMove;  \
                     (self.*h)(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))))

// void OnChar(UINT character, UINT repeatCount, UINT flags)
#define ON_WM_CHAR()                                                                               \
    FW_MESSAGE_ENTRY(WM_CHAR, WM_CHAR, 0, 0,                                                       \
                     void (ThisClass::*h)(UINT, UINT, UINT) = &ThisClass::OnChar;                  \
                     (self.*h)(static_cast<UINT>(wp), LOWORD(lp), HIWORD(lp)))

// void DrawItem(DRAWITEMSTRUCT* item): the parent's WM_DRAWITEM for an owner-drawn control,
// handled by the control itself
#define ON_WM_DRAWITEM_REFLECT()                                                                   \
    FW_MESSAGE_ENTRY(WM_DRAWITEM | ::fw::kReflected, WM_DRAWITEM | ::fw::kReflected, 0, 0,         \
                     void (ThisClass::*h)(DRAWITEMSTRUCT*) = &ThisClass::DrawItem;                 \
                     (self.*h)(reinterpret_cast<DRAWITEMSTRUCT*>(lp)); result = TRUE)
